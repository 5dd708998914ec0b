// Pushes a 1 GiB stream of 16 KiB blocks through the piece store to a real
// file, with SHA-1 verification and flushing, for pieces of 1 MiB and 4 MiB,
// and compares the throughput with sha1sum over the same file in the same
// run. Each piece length runs in a process of its own, so each peak resident
// size is its own.
//
//   bench_piece_store [folder]      (default: ./piece_store_bench)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "engine/storage/bencode.h"
#include "engine/storage/pieces.h"
#include "engine/storage/qelement.h"
#include "platform/process_memory.h"
#include "platform/run_program.h"

namespace {

constexpr int64_t kStreamBytes = int64_t(1) << 30;
constexpr int32_t kBlock = 16384;
// The task's default cache setting (limitB), in 256 KiB units.
constexpr int32_t kTaskCacheUnits = 64;
constexpr double kHousekeepingSeconds = 5.0;
constexpr double kMiB = 1024.0 * 1024.0;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Distinct, cheap content for each piece.
void FillPiece(std::vector<uint8_t> &buffer, int32_t length, int64_t piece)
{
    uint64_t state = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(piece + 1);
    for (int32_t at = 0; at < length; at += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(buffer.data() + at, &state, 8);
    }
}

std::string BString(const std::string &bytes)
{
    return std::to_string(bytes.size()) + ":" + bytes;
}

std::string Hex(const unsigned char *bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

class CountingSink : public IPiecesEventSink {
public:
    void OnDataFileEvent(const TPiecesEvent &event) override
    {
        if (event.code == PIECES_EVENT_DISK_FULL || event.code == PIECES_EVENT_OPEN_FAILED)
            ++failures;
    }
    int failures = 0;
};

struct PiecesReleaser {
    void operator()(TPieces *pieces) const { pieces->Release(); }
};

int RunOne(int32_t pieceLength, const std::string &folder)
{
    const auto pieceCount = static_cast<int32_t>(kStreamBytes / pieceLength);
    std::vector<uint8_t> piece(static_cast<size_t>(pieceLength));

    // Untimed: the piece hashes, and the whole stream's SHA-1 to check the file.
    std::string hashes;
    EVP_MD_CTX *whole = EVP_MD_CTX_new();
    EVP_DigestInit_ex(whole, EVP_sha1(), nullptr);
    for (int32_t i = 0; i < pieceCount; ++i) {
        FillPiece(piece, pieceLength, i);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_Digest(piece.data(), piece.size(), digest, &size, EVP_sha1(), nullptr);
        hashes.append(reinterpret_cast<char *>(digest), size);
        EVP_DigestUpdate(whole, piece.data(), piece.size());
    }
    unsigned char streamDigest[EVP_MAX_MD_SIZE];
    unsigned int streamDigestSize = 0;
    EVP_DigestFinal_ex(whole, streamDigest, &streamDigestSize);
    EVP_MD_CTX_free(whole);

    const std::string name = "bench-" + std::to_string(pieceLength >> 20) + "m.bin";
    std::filesystem::create_directories(folder);
    std::filesystem::remove(folder + "/" + name);
    std::filesystem::remove(folder + "/" + name + ".qltmp");
    const std::string info = "d6:lengthi" + std::to_string(kStreamBytes) + "e4:name" + BString(name) +
                             "12:piece lengthi" + std::to_string(pieceLength) + "e6:pieces" + BString(hashes) + "e";
    std::unique_ptr<QElement> element = CreateElement(info.data(), static_cast<int64_t>(info.size()));
    CountingSink sink;
    std::unique_ptr<TPieces, PiecesReleaser> pieces(new TPieces(&sink, folder, std::string()));
    pieces->SetCacheBudget(kTaskCacheUnits);
    if (!element || !pieces->BuildFromInfo(element.get(), nullptr)) {
        std::fprintf(stderr, "piece_store: the file table could not be built\n");
        return 1;
    }
    const int64_t residentBefore = platform::PeakResidentBytes();

    // Timed: every block through WriteBlock, housekeeping as the task does it.
    double pushing = 0;
    int corrupt = 0;
    Clock::time_point lastHousekeeping = Clock::now();
    for (int32_t i = 0; i < pieceCount; ++i) {
        FillPiece(piece, pieceLength, i);
        const Clock::time_point start = Clock::now();
        const int64_t firstBlock = static_cast<int64_t>(i) * (pieceLength / kBlock);
        for (int32_t at = 0; at < pieceLength; at += kBlock) {
            if (pieces->WriteBlock(firstBlock + at / kBlock, kBlock, piece.data() + at, nullptr) < 0)
                ++corrupt;
        }
        const Clock::time_point end = Clock::now();
        pushing += Seconds(start, end);
        if (Seconds(lastHousekeeping, end) >= kHousekeepingSeconds) {
            pieces->Housekeeping();
            lastHousekeeping = Clock::now();
            pushing += Seconds(end, lastHousekeeping);
        }
    }
    Clock::time_point start = Clock::now();
    pieces->FlushVerified();
    const double written = pushing + Seconds(start, Clock::now());
    start = Clock::now();
    pieces->CloseFiles(true); // fdatasync, then the final name
    const double synced = written + Seconds(start, Clock::now());
    const int64_t residentPeak = platform::PeakResidentBytes();

    const std::string path = folder + "/" + name;
    if (corrupt != 0 || sink.failures != 0 || !pieces->AllPiecesComplete() || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "piece_store: the stream did not arrive whole (%d refused, %d failures)\n", corrupt,
                     sink.failures);
        return 1;
    }

    // sha1sum over the same file, now in the page cache as our data was.
    std::string sumOutput;
    start = Clock::now();
    const int rc = platform::RunProgram({"sha1sum", path}, &sumOutput);
    const double summing = Seconds(start, Clock::now());
    const bool same = rc == 0 && sumOutput.compare(0, 40, Hex(streamDigest, streamDigestSize)) == 0;

    const double mib = static_cast<double>(kStreamBytes) / kMiB;
    std::printf("pieces of %d MiB, %d pieces, 16 KiB blocks, cache budget %lld MiB\n", pieceLength >> 20, pieceCount,
                static_cast<long long>(pieces->CacheBudgetBytes() >> 20));
    std::printf("  throughput without the final fdatasync: %8.1f MiB/s (%.2f s)\n", mib / written, written);
    std::printf("  throughput with the final fdatasync:    %8.1f MiB/s (%.2f s)\n", mib / synced, synced);
    std::printf("  sha1sum over the same file:             %8.1f MiB/s (%.2f s)%s\n", mib / summing, summing,
                same ? "" : "  [digest MISMATCH or sha1sum failed]");
    std::printf("  ratio to sha1sum: %.2f without, %.2f with the fdatasync\n", summing / written, summing / synced);
    std::printf("  peak resident: %.1f MiB (%.1f MiB before pushing); budget %.1f MiB, goal <= budget + 32 MiB "
                "= %.1f MiB: %s\n",
                static_cast<double>(residentPeak) / kMiB, static_cast<double>(residentBefore) / kMiB,
                static_cast<double>(pieces->CacheBudgetBytes()) / kMiB,
                static_cast<double>(pieces->CacheBudgetBytes()) / kMiB + 32,
                residentPeak <= pieces->CacheBudgetBytes() + (int64_t(32) << 20) ? "met" : "NOT met");
    std::fflush(stdout);
    std::filesystem::remove(path);
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--piece") == 0)
        return RunOne(std::atoi(argv[2]), argv[3]);
    const std::string folder = argc > 1 ? argv[1] : "piece_store_bench";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    int failed = 0;
    for (int32_t pieceLength : {1 << 20, 4 << 20}) {
        if (platform::RunProgram({self, "--piece", std::to_string(pieceLength), folder}) != 0)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}
