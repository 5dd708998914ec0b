#include "app/file_md5.h"

#include <memory>
#include <openssl/evp.h>
#include <vector>

#include "engine/base/hex_digits.h"

namespace {

constexpr uint64_t kPieceBytes = 4096;
// Read in larger runs than the progress unit; the progress is the same.
constexpr size_t kReadBytes = 64 * kPieceBytes;

struct DigestContextFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

uint32_t ProgressOf(uint64_t bytesRead, uint64_t blocks)
{
    if (blocks == 0)
        return 0;
    const uint64_t pieces = (bytesRead + kPieceBytes - 1) / kPieceBytes;
    return static_cast<uint32_t>(static_cast<double>(pieces) * 10000.0 / static_cast<double>(blocks));
}

} // namespace

TFileDigest FileMd5(IAppFileSystem &files, const std::string &path, const std::function<void(uint32_t)> &progress,
                    const std::function<bool()> &stop)
{
    TFileDigest digest;
    std::unique_ptr<IReadableFile> file = files.OpenForReading(path);
    uint64_t size = 0;
    if (file == nullptr || !file->Size(size))
        return digest;
    const uint64_t blocks = size / kPieceBytes;

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (context == nullptr || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1)
        return digest;
    progress(0);
    std::vector<unsigned char> buffer(kReadBytes);
    uint64_t bytesRead = 0;
    for (;;) {
        if (stop()) {
            digest.outcome = Md5Outcome::Stopped;
            return digest;
        }
        const int64_t n = file->Read(buffer.data(), buffer.size());
        if (n < 0)
            return digest;
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) != 1)
            return digest;
        bytesRead += static_cast<uint64_t>(n);
        progress(ProgressOf(bytesRead, blocks));
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), md, &length) != 1 || length != 16)
        return digest;
    AppendLowerHex(digest.hex, md, length);
    digest.outcome = Md5Outcome::Done;
    return digest;
}
