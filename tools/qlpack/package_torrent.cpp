#include "tools/qlpack/package_torrent.h"

#include "engine/storage/bencode.h"
#include "engine/storage/qelement.h"
#include "platform/run_program.h"

#include <memory>

namespace {
constexpr int64_t kShaBytes = 20;
} // namespace

std::string CheckPackageTorrent(const std::string &bytes, uint64_t size)
{
    std::unique_ptr<QElement> root = CreateElement(bytes.data(), static_cast<int64_t>(bytes.size()));
    if (root == nullptr || root->Type() != ELEMENT_DICTIONARY)
        return "not a bencoded dictionary";
    const QElement *info = root->FindValue("info");
    if (info == nullptr || info->Type() != ELEMENT_DICTIONARY)
        return "no \"info\" dictionary";
    if (info->FindValue("files") != nullptr)
        return "a multi-file torrent; each package file needs a torrent of its own";
    const QElement *length = info->FindValue("length");
    if (length == nullptr || !length->CarriesInteger() || length->Integer() < 0)
        return "no \"length\" in \"info\"";
    if (static_cast<uint64_t>(length->Integer()) != size)
        return "its length " + std::to_string(length->Integer()) + " differs from the file's size " +
               std::to_string(size);
    const QElement *pieceLength = info->FindValue("piece length");
    if (pieceLength == nullptr || !pieceLength->CarriesInteger() || pieceLength->Integer() <= 0)
        return "no positive \"piece length\" in \"info\"";
    const QElement *pieces = info->FindValue("pieces");
    if (pieces == nullptr || pieces->Type() != ELEMENT_STRING)
        return "no \"pieces\" in \"info\"";
    const uint64_t piece = static_cast<uint64_t>(pieceLength->Integer());
    const uint64_t expected = size / piece + (size % piece != 0 ? 1 : 0);
    if (static_cast<uint64_t>(pieces->Length()) != expected * kShaBytes)
        return "\"pieces\" holds " + std::to_string(pieces->Length() / kShaBytes) + " digests for " +
               std::to_string(expected) + " pieces";
    return std::string();
}

std::string MakePackageTorrent(const std::string &mktorrent, const std::string &filePath, const std::string &name,
                               const std::string &announce, int pieceLengthExponent, const std::string &outPath)
{
    const std::string program = mktorrent.empty() ? std::string("mktorrent") : mktorrent;
    // Its chatter goes to the output string; its complaints reach the
    // publisher's terminal.
    std::string chatter;
    const int exitCode = platform::RunProgram({program, "-d", "-a", announce, "-l", std::to_string(pieceLengthExponent),
                                               "-n", name, "-o", outPath, filePath},
                                              &chatter);
    if (exitCode != 0)
        return program + " failed (exit " + std::to_string(exitCode) +
               "; is the mktorrent package installed, or give --mktorrent)";
    return std::string();
}
