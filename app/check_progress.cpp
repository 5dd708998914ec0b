#include "app/check_progress.h"

namespace {
constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kDone = 10000;
} // namespace

uint32_t GetCheckProgress(const PackageManifest &manifest, int32_t checkIndex, uint32_t checkProgress)
{
    uint64_t weights[kPackageFileCount];
    uint64_t total = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        weights[i] = manifest.size[i] / kMiB;
        total += weights[i];
    }
    if (total == 0) {
        for (uint64_t &weight : weights)
            weight = 1;
        total = kPackageFileCount;
    }
    const uint64_t current = checkProgress > kDone - 1 ? kDone : checkProgress;
    uint64_t sum = 0;
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (i < checkIndex)
            sum += weights[i] * kDone;
        else if (i == checkIndex)
            sum += weights[i] * current;
    }
    return static_cast<uint32_t>(sum / total);
}
