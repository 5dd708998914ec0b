#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/base/qmutex.h"

// The controller's verification fields. The verification thread writes
// them while the front-end reads them, so the numbers are atomic and the
// digest text has a lock of its own.
struct TVerificationStatus {
    std::atomic<int32_t> checkIndex{0};       // file being hashed or repaired
    std::atomic<uint32_t> checkProgress{0};   // hashing progress, hundredths of a percent
    std::atomic<uint32_t> repairProgress{0};  // repair download, hundredths of a percent
    std::atomic<uint32_t> repairSpeed{0};     // repair download, bytes per second
    std::atomic<bool> repairFailed{false};    // the last reopening of the task failed
    std::atomic<bool> installAfterCheck{false};
    std::atomic<bool> mismatchSeen{false};    // some file failed its first comparison

    void SetLastActualMd5(const std::string &digest)
    {
        QAutoLock hold(digestLock);
        lastActualMd5 = digest;
    }
    std::string LastActualMd5()
    {
        QAutoLock hold(digestLock);
        return lastActualMd5;
    }

private:
    QSMutex digestLock;
    std::string lastActualMd5; // the digest of the current file's first comparison
};
