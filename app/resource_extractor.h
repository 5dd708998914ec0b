#pragma once
#include <cstdint>
#include <string>

#include "app/app_file_system.h"
#include "app/program_resources.h"

// Resource types and ids of the embedded resources.
inline constexpr char kTorrentResourceType[] = "TORRENT";
inline constexpr char kReportConfigResourceType[] = "DUCONF";
inline constexpr int32_t kReportConfigResourceId = 181;
inline constexpr char kReportConfigFileName[] = "dataupload.qlconf";

enum class ResourceFailure { None, NoModule, NotFound, LoadFailed, CreateFailed };

// Writes embedded resources out to disk for the engine and the report.
class CResourceExtractor {
public:
    CResourceExtractor(IResourceSource &resources, IAppFileSystem &files);

    // One attempt: the resource's bytes, or with decode its base64-decoded
    // text, become the whole file at path. 1 on success; 0 on failure, with
    // the failure and its text kept. A failed write or close is a failure.
    int WriteResourceFile(int32_t id, const char *type, const std::string &path, bool decode);

    // folder/fileName (the folder chain is created first), else the TEMP
    // folder/fileName: 0 when written to the folder, 1 when written to TEMP,
    // -1 when both failed. Each failed attempt is logged.
    int ExtractResource(int32_t id, const std::string &folder, const std::string &fileName, const char *type,
                        bool decode);

    // Of the last attempt: what failed ("" and None after a success), and
    // the path of the file written.
    const char *FailureText() const { return failureText; }
    ResourceFailure LastFailure() const { return failure; }
    const std::string &WrittenPath() const { return writtenPath; }

private:
    void Fail(ResourceFailure what);

    IResourceSource &resources;
    IAppFileSystem &files;
    ResourceFailure failure = ResourceFailure::None;
    const char *failureText = "";
    std::string writtenPath;
};
