#include "tools/qlpack/qlpack_command.h"

#include "app/local_file_system.h"
#include "app/resource_extractor.h"
#include "platform/program_file.h"
#include "platform/read_file.h"
#include "tools/qlpack/package_description.h"
#include "tools/qlpack/program_stamper.h"
#include "tools/qlpack/stamp_values.h"

namespace {

constexpr size_t kMaxProgramBytes = 1024ULL * 1024 * 1024;

constexpr char kUsage[] =
    "usage: qlpack [--mktorrent PROGRAM] DESCRIPTION PROGRAM OUTPUT\n"
    "         writes to OUTPUT a copy of PROGRAM stamped with the package of\n"
    "         DESCRIPTION (an ini file; see tools/qlpack/package_description.h)\n"
    "       qlpack --show PROGRAM\n"
    "         prints the package PROGRAM carries\n";

bool ReadProgram(const std::string &path, std::string &image, std::ostream &err)
{
    switch (platform::ReadWholeFile(path, kMaxProgramBytes, image)) {
    case platform::ReadFileStatus::Ok:
        return true;
    case platform::ReadFileStatus::TooLarge:
        err << "qlpack: " << path << ": larger than 1 GiB\n";
        return false;
    case platform::ReadFileStatus::Unreadable:
        break;
    }
    err << "qlpack: " << path << ": cannot be read\n";
    return false;
}

int Show(const std::string &programPath, std::ostream &out, std::ostream &err)
{
    std::string image;
    if (!ReadProgram(programPath, image, err))
        return 1;
    TProgramContents contents;
    const std::string error = ReadProgramImage(image, contents);
    if (!error.empty()) {
        err << "qlpack: " << programPath << ": " << error << "\n";
        return 1;
    }
    if (!contents.hasResourceDirectory)
        err << "qlpack: warning: " << programPath
            << " carries no resource directory: it is unstamped, or was stripped or cut short after stamping,"
               " so its torrents and report configuration are gone; stamp it again\n";
    const PackageManifest &manifest = contents.manifest;
    out << "resource list: " << manifest.resourceListUrl << "\n";
    for (int i = 0; i < kPackageFileCount; ++i) {
        out << "file" << i << ": " << manifest.name[i] << " " << manifest.size[i] << " " << manifest.md5[i] << " "
            << manifest.url[i] << " torrent " << manifest.torrentId[i];
        const TResourceEntry *torrent =
            FindResourceEntry(contents.resources, kTorrentResourceType, manifest.torrentId[i]);
        out << (torrent != nullptr ? " (" + std::to_string(torrent->size) + " bytes)" : " (none)") << "\n";
        if (contents.keyCopy[i] != manifest.md5[i])
            out << "file" << i << ": the second MD5 copy differs: " << contents.keyCopy[i] << "\n";
    }
    const TResourceEntry *config =
        FindResourceEntry(contents.resources, kReportConfigResourceType, kReportConfigResourceId);
    out << "report configuration: "
        << (config != nullptr ? std::to_string(config->size) + " bytes (base64)" : std::string("none")) << "\n";
    out << "lan discovery: " << (manifest.lanDiscovery ? "on" : "off")
        << ", port mapping: " << (manifest.portMapping ? "on" : "off") << "\n";
    return 0;
}

int Stamp(const std::string &descriptionPath, const std::string &programPath, const std::string &outputPath,
          const std::string &mktorrent, std::ostream &out, std::ostream &err)
{
    TPackageDescription description;
    std::string error;
    if (!ReadPackageDescription(descriptionPath, description, error)) {
        err << "qlpack: " << error << "\n";
        return 1;
    }
    CLocalFileSystem files;
    TStampValues values;
    if (!BuildStampValues(description, mktorrent, files, out, values, error)) {
        err << "qlpack: " << error << "\n";
        return 1;
    }
    std::string image;
    if (!ReadProgram(programPath, image, err))
        return 1;
    std::string stamped;
    error = StampProgramImage(image, values, stamped);
    if (!error.empty()) {
        err << "qlpack: " << programPath << ": " << error << "\n";
        return 1;
    }
    if (!platform::WriteProgramFile(outputPath, stamped)) {
        err << "qlpack: " << outputPath << ": cannot be written\n";
        return 1;
    }
    out << "qlpack: wrote " << outputPath << " (package key " << values.md5[0] << ", " << values.resources.size()
        << " resources)\n";
    return 0;
}

} // namespace

int RunQlpack(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> positional;
    std::string mktorrent;
    bool show = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            out << kUsage;
            return 0;
        }
        if (args[i] == "--show") {
            show = true;
        } else if (args[i] == "--mktorrent" && i + 1 < args.size()) {
            mktorrent = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            err << "qlpack: unknown option " << args[i] << "\n" << kUsage;
            return 2;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (show && positional.size() == 1 && mktorrent.empty())
        return Show(positional[0], out, err);
    if (!show && positional.size() == 3)
        return Stamp(positional[0], positional[1], positional[2], mktorrent, out, err);
    err << kUsage;
    return 2;
}
