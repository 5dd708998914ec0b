#include "tools/qlpack/stamp_values.h"

#include "app/base64.h"
#include "app/digest_text.h"
#include "app/file_md5.h"
#include "app/path_text.h"
#include "app/resource_extractor.h"
#include "platform/private_temp_folder.h"
#include "platform/read_file.h"
#include "tools/qlpack/package_torrent.h"

#include <set>

namespace {

constexpr int32_t kFirstTorrentId = 301;
constexpr size_t kMaxFileNameBytes = 255;
constexpr size_t kMaxReportConfigSource = 64 * 1024;

bool StartsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool Printable(const std::string &text)
{
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7f)
            return false;
    }
    return true;
}

// A URL of one of the schemes, without blanks or control characters, that
// fits a slot.
std::string CheckUrl(const std::string &url, std::initializer_list<const char *> schemes)
{
    bool known = false;
    std::string names;
    for (const char *scheme : schemes) {
        known = known || StartsWith(url, scheme);
        names += (names.empty() ? "" : " or ") + std::string(scheme);
    }
    if (!known)
        return "must start with " + names + ", got \"" + url + "\"";
    if (!Printable(url))
        return "contains blanks or control characters";
    if (url.size() > kManifestTextLimit)
        return "is " + std::to_string(url.size()) + " bytes; a slot holds at most " +
               std::to_string(kManifestTextLimit) + " (after base64 with its NUL)";
    return std::string();
}

std::string CheckName(const std::string &name)
{
    if (!IsPlainFileName(name))
        return "must be a plain file name (no '/', not \".\" or \"..\"), got \"" + name + "\"";
    for (unsigned char c : name) {
        if (c < ' ' || c == 0x7f)
            return "contains control characters";
    }
    if (name.size() > kMaxFileNameBytes)
        return "is longer than 255 bytes";
    return std::string();
}

bool ReadResource(const std::string &path, std::string &bytes, std::string &error)
{
    switch (platform::ReadWholeFile(path, kMaxResourceBytes, bytes)) {
    case platform::ReadFileStatus::Ok:
        return true;
    case platform::ReadFileStatus::TooLarge:
        error = path + ": larger than the 64 MiB a resource may hold";
        return false;
    case platform::ReadFileStatus::Unreadable:
        break;
    }
    error = path + ": cannot be read";
    return false;
}

class CFileResolver {
public:
    CFileResolver(const TPackageDescription &description, const std::string &mktorrent, IAppFileSystem &files,
                  std::ostream &log, TStampValues &values)
        : description(description), mktorrent(mktorrent), files(files), log(log), values(values)
    {
    }

    bool Resolve(int index, std::string &error);

private:
    bool Measure(int index, const TDescribedFile &file, std::string &error);
    bool Torrent(int index, const TDescribedFile &file, std::string &error);

    const TPackageDescription &description;
    const std::string &mktorrent;
    IAppFileSystem &files;
    std::ostream &log;
    TStampValues &values;
    platform::PrivateTempFolder temp;
};

bool CFileResolver::Resolve(int index, std::string &error)
{
    const TDescribedFile &file = description.files[index];
    const std::string where = "[file" + std::to_string(index) + "] ";
    std::string problem = CheckName(file.name);
    if (!problem.empty()) {
        error = where + "name " + problem;
        return false;
    }
    problem = CheckUrl(file.url, {"http://", "ftp://"});
    if (!problem.empty()) {
        error = where + "url " + problem;
        return false;
    }
    if (!file.md5.empty() && !IsMd5Text(file.md5, true)) {
        error = where + "md5 must be 32 lower-case hex digits, got \"" + file.md5 + "\"";
        return false;
    }
    values.name[index] = file.name;
    values.url[index] = file.url;
    values.torrentId[index] = kFirstTorrentId + index;
    if (!Measure(index, file, error) || !Torrent(index, file, error)) {
        error = where + error;
        return false;
    }
    return true;
}

bool CFileResolver::Measure(int index, const TDescribedFile &file, std::string &error)
{
    if (file.path.empty()) {
        values.size[index] = *file.size;
        values.md5[index] = file.md5;
    } else {
        TFileFacts facts;
        if (!files.QueryFile(file.path, facts)) {
            error = "path " + file.path + " is not a readable file";
            return false;
        }
        log << "qlpack: computing the MD5 of " << file.path << "\n";
        const TFileDigest digest = FileMd5(files, file.path, [](uint32_t) {}, [] { return false; });
        if (digest.outcome != Md5Outcome::Done) {
            error = "path " + file.path + " cannot be read";
            return false;
        }
        if (file.size && *file.size != facts.size) {
            error = "size " + std::to_string(*file.size) + " differs from the file's " + std::to_string(facts.size);
            return false;
        }
        if (!file.md5.empty() && file.md5 != digest.hex) {
            error = "md5 " + file.md5 + " differs from the file's " + digest.hex;
            return false;
        }
        values.size[index] = facts.size;
        values.md5[index] = digest.hex;
    }
    if (values.size[index] == 0) {
        error = "the file is empty";
        return false;
    }
    return true;
}

bool CFileResolver::Torrent(int index, const TDescribedFile &file, std::string &error)
{
    std::string torrentPath = file.torrentPath;
    if (file.noTorrent || (torrentPath.empty() && file.path.empty()))
        return true;
    if (torrentPath.empty()) {
        if (description.announce.empty()) {
            error = "a torrent is to be made, but [package] has no announce URL (or give torrent = none)";
            return false;
        }
        if (temp.Path().empty() && !temp.Create("qlpack-")) {
            error = "cannot make a temporary folder for the torrents";
            return false;
        }
        torrentPath = temp.Path() + "/" + std::to_string(index) + ".torrent";
        log << "qlpack: making the torrent of " << file.path << "\n";
        error = MakePackageTorrent(mktorrent, file.path, file.name, description.announce,
                                   description.pieceLengthExponent, torrentPath);
        if (!error.empty())
            return false;
    }
    TResourcePayload resource;
    resource.type = kTorrentResourceType;
    resource.id = values.torrentId[index];
    if (!ReadResource(torrentPath, resource.bytes, error))
        return false;
    const std::string problem = CheckPackageTorrent(resource.bytes, values.size[index]);
    if (!problem.empty()) {
        error = "torrent " + torrentPath + ": " + problem;
        return false;
    }
    values.resources.push_back(std::move(resource));
    return true;
}

bool ReportConfig(const TPackageDescription &description, TStampValues &values, std::string &error)
{
    if (description.reportConfigPath.empty())
        return true;
    std::string text;
    switch (platform::ReadWholeFile(description.reportConfigPath, kMaxReportConfigSource, text)) {
    case platform::ReadFileStatus::Ok:
        break;
    case platform::ReadFileStatus::TooLarge:
    case platform::ReadFileStatus::Unreadable:
        error = "[package] report_config " + description.reportConfigPath + " cannot be read";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = "[package] report_config holds a NUL byte; it must be an ini text";
        return false;
    }
    const std::string encoded = Base64Encode(text);
    if (text.empty() || Base64Decode(encoded) != text) {
        error = "[package] report_config is " + std::to_string(text.size()) +
                " bytes; it must be 1 to " + std::to_string(kBase64DecodedLimit) + " bytes to decode whole";
        return false;
    }
    TResourcePayload resource;
    resource.type = kReportConfigResourceType;
    resource.id = kReportConfigResourceId;
    resource.bytes = encoded;
    values.resources.push_back(std::move(resource));
    return true;
}

} // namespace

bool BuildStampValues(const TPackageDescription &description, const std::string &mktorrent, IAppFileSystem &files,
                      std::ostream &log, TStampValues &values, std::string &error)
{
    values = TStampValues();
    if (!description.resourceListUrl.empty()) {
        const std::string problem = CheckUrl(description.resourceListUrl, {"https://", "http://"});
        if (!problem.empty()) {
            error = "[package] resource_list_url " + problem;
            return false;
        }
    }
    if (!description.announce.empty()) {
        const std::string problem = CheckUrl(description.announce, {"http://", "https://", "udp://"});
        if (!problem.empty()) {
            error = "[package] announce " + problem;
            return false;
        }
    }
    values.resourceListUrl = description.resourceListUrl;
    values.lanDiscovery = description.lanDiscovery;
    values.portMapping = description.portMapping;

    CFileResolver resolver(description, mktorrent, files, log, values);
    std::set<std::string> names;
    std::set<std::string> digests;
    for (int i = 0; i < kPackageFileCount; ++i) {
        if (!resolver.Resolve(i, error))
            return false;
        if (!names.insert(values.name[i]).second) {
            error = "[file" + std::to_string(i) + "] name \"" + values.name[i] + "\" is used by another file";
            return false;
        }
        if (!digests.insert(values.md5[i]).second) {
            error = "[file" + std::to_string(i) + "] has the same MD5 as another file; the files must differ";
            return false;
        }
    }
    return ReportConfig(description, values, error);
}
