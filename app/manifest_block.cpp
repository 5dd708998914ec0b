#include "app/manifest_block.h"

namespace {

// This build's package. The servers are left to the publisher: the built-in
// host names are under ".invalid", which the engine never resolves.
constexpr TManifestValues kBuiltInPackage = {
    "https://resources.quarrowlight.invalid/downloader/VRNHResourceList20190122.xml",
    {
        "http://packages.quarrowlight.invalid/10192/VRNH_Setup_1_0_1_92.exe",
        "http://packages.quarrowlight.invalid/10192/VRNH_92_.7z.001",
        "http://packages.quarrowlight.invalid/10192/VRNH_92_.7z.002",
        "http://packages.quarrowlight.invalid/10192/VRNH_92_.7z.003",
        "http://packages.quarrowlight.invalid/10192/VRNH_92_.7z.004",
        "http://packages.quarrowlight.invalid/10192/VRNH_92_.7z.005",
    },
    {
        "VRNH_Setup_1_0_1_92.exe",
        "VRNH_92_.7z.001",
        "VRNH_92_.7z.002",
        "VRNH_92_.7z.003",
        "VRNH_92_.7z.004",
        "VRNH_92_.7z.005",
    },
    {18487472, 1887436800, 1887436800, 1887436800, 1887436800, 360827287},
    {
        "661f39aa7d63bdb047569820cf430974",
        "9f0fca321767f8ae2b6b365bb68d6e3e",
        "159950ad19163d3e226f34988aec24dc",
        "79c0633375c252b24a791a9f17b01e9e",
        "60f0f75d649ad56b8dac771d9e33fe3b",
        "face35a3de907903ae0dfca77d0854f9",
    },
    {301, 302, 303, 304, 305, 306},
};

__attribute__((section(".qlmanifest"), used)) const TManifestBlock gManifestBlock = MakeManifestBlock(kBuiltInPackage);
__attribute__((section(".qlkeycopy"), used)) const TManifestKeyCopy gKeyCopy = MakeKeyCopy(kBuiltInPackage);
// LAN discovery and port mapping stay off until a publisher turns them on.
__attribute__((section(".qldeploy"), used)) const TDeploymentSwitches gDeployment = {0, 0, {0, 0, 0, 0, 0, 0}};

// Hides where a pointer comes from, so reads through it are real loads of the
// (possibly stamped) bytes rather than the initialisers above.
template <typename T> const T &Opaque(const T *object)
{
    asm volatile("" : "+r"(object));
    return *object;
}

} // namespace

const TManifestBlock &ProgramManifestBlock()
{
    return Opaque(&gManifestBlock);
}

const TManifestKeyCopy &ProgramKeyCopy()
{
    return Opaque(&gKeyCopy);
}

const TDeploymentSwitches &ProgramDeploymentSwitches()
{
    return Opaque(&gDeployment);
}
