#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/base64.h"

// The package description carried inside the program: a block of fixed-size
// slots in its own ELF section, which the publisher's stamper (tools/qlpack)
// rewrites in the built program file. Text slots are 4096 bytes, hold a
// NUL-terminated text and are zero-filled after it. The layout never
// changes; only the contents do.
//
// Sections (found by name in the program file):
//   ".qlmanifest"  TManifestBlock: resource-list URL, six download URLs, six
//                  file names (base64), six sizes (u64 LE), six MD5 texts,
//                  six torrent resource ids (i32 LE), in that order;
//   ".qlkeycopy"   TManifestKeyCopy: the second copy of the six MD5 texts,
//                  read only to name the single-instance objects;
//   ".qldeploy"    TDeploymentSwitches: what the publisher switched on.

inline constexpr int kPackageFileCount = 6;
inline constexpr size_t kManifestTextSlotBytes = 4096;
// The longest text whose base64 form still fits a slot with its NUL.
inline constexpr size_t kManifestTextLimit = (kManifestTextSlotBytes - 1) / 4 * 3;

inline constexpr char kManifestSectionName[] = ".qlmanifest";
inline constexpr char kKeyCopySectionName[] = ".qlkeycopy";
inline constexpr char kDeploymentSectionName[] = ".qldeploy";

using TManifestTextSlot = std::array<char, kManifestTextSlotBytes>;

struct TManifestBlock {
    TManifestTextSlot resourceListUrl;
    TManifestTextSlot url[kPackageFileCount];
    TManifestTextSlot name[kPackageFileCount];
    std::array<uint8_t, 8> size[kPackageFileCount];
    TManifestTextSlot md5[kPackageFileCount];
    std::array<uint8_t, 4> torrentId[kPackageFileCount];
};
static_assert(sizeof(TManifestBlock) == 19 * kManifestTextSlotBytes + 6 * 8 + 6 * 4, "slots are packed");
static_assert(offsetof(TManifestBlock, size) == 13 * kManifestTextSlotBytes);
static_assert(offsetof(TManifestBlock, md5) == 13 * kManifestTextSlotBytes + 6 * 8);

struct TManifestKeyCopy {
    TManifestTextSlot md5[kPackageFileCount];
};

struct TDeploymentSwitches {
    uint8_t lanDiscovery;
    uint8_t portMapping;
    uint8_t reserved[6];
};
static_assert(sizeof(TDeploymentSwitches) == 8);

// Plain values, turned into slots by MakeManifestBlock. Each text must fit
// kManifestTextLimit (and an MD5 its slot); the stamper checks that first.
struct TManifestValues {
    std::string_view resourceListUrl;
    std::string_view url[kPackageFileCount];
    std::string_view name[kPackageFileCount];
    uint64_t size[kPackageFileCount];
    std::string_view md5[kPackageFileCount];
    int32_t torrentId[kPackageFileCount];
};

constexpr TManifestTextSlot EncodedSlot(std::string_view text)
{
    TManifestTextSlot slot{};
    Base64EncodeTo(text.substr(0, kManifestTextLimit), slot.begin());
    return slot;
}

constexpr TManifestTextSlot PlainSlot(std::string_view text)
{
    TManifestTextSlot slot{};
    for (size_t i = 0; i < text.size() && i + 1 < slot.size(); ++i)
        slot[i] = text[i];
    return slot;
}

constexpr TManifestBlock MakeManifestBlock(const TManifestValues &values)
{
    TManifestBlock block{};
    block.resourceListUrl = EncodedSlot(values.resourceListUrl);
    for (int i = 0; i < kPackageFileCount; ++i) {
        block.url[i] = EncodedSlot(values.url[i]);
        block.name[i] = EncodedSlot(values.name[i]);
        for (int b = 0; b < 8; ++b)
            block.size[i][b] = static_cast<uint8_t>(values.size[i] >> (8 * b));
        block.md5[i] = PlainSlot(values.md5[i]);
        const uint32_t id = static_cast<uint32_t>(values.torrentId[i]);
        for (int b = 0; b < 4; ++b)
            block.torrentId[i][b] = static_cast<uint8_t>(id >> (8 * b));
    }
    return block;
}

constexpr TManifestKeyCopy MakeKeyCopy(const TManifestValues &values)
{
    TManifestKeyCopy copy{};
    for (int i = 0; i < kPackageFileCount; ++i)
        copy.md5[i] = PlainSlot(values.md5[i]);
    return copy;
}

// The slots as they are in this program's file. The compiler never sees the
// built-in contents through these, since the stamper changes them after the
// build.
const TManifestBlock &ProgramManifestBlock();
const TManifestKeyCopy &ProgramKeyCopy();
const TDeploymentSwitches &ProgramDeploymentSwitches();
