// The versions of the sources' files a task's data came from. A server may
// replace its file between two runs, or while one runs; a task without
// piece hashes cannot tell the bytes of two versions apart, so the first
// sign of a new version (another validator, or a whole answer to a ranged
// request that named the old one in If-Range) starts its data again.
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/work_with_pieces.h"
#include "engine/storage/pieces.h"
#include "platform/remove_file.h"

std::string TWorkWithPieces::SourceValidator(const std::string &url)
{
    auto found = versions.validators.find(url);
    return found != versions.validators.end() ? found->second : std::string();
}

bool TWorkWithPieces::CheckSourceVersion(const std::string &url, const std::string &validator)
{
    if (validator.empty())
        return true;
    auto found = versions.validators.find(url);
    if (found == versions.validators.end()) {
        if (versions.validators.size() < TSourceVersions::kMaxSources) {
            versions.validators[url] = validator;
            StoreSourceVersions();
        }
        return true;
    }
    if (found->second == validator)
        return true;
    EngineLogFormat(LOG_CHANNEL_TASK_STATE, "The file at %.512s changed on the server (%.256s, was %.256s)",
                    url.c_str(), validator.c_str(), found->second.c_str());
    found->second = validator;
    // Pieces with hashes keep what verified; the changed source's bytes
    // would fail their hashes, so this answer is simply not used.
    if (!IsHttpTask()) {
        StoreSourceVersions();
        return false;
    }
    // The data begins again: what the other sources served before vouches
    // for nothing now, and each tells its version afresh.
    versions.validators = {{url, validator}};
    StoreSourceVersions();
    if (!HasDataFile()) {
        // Nothing is built yet: the table starts empty and this answer,
        // asked from byte 0, is the first of the new version.
        ForgetResumeData("the file changed on the server; starting again");
        return true;
    }
    discardRequested = true;
    return false;
}

bool TWorkWithPieces::DiscardChangedData()
{
    if (!discardRequested)
        return false;
    discardRequested = false;
    DropConnections(~0, static_cast<int32_t>(connections.size()), false);
    // The sources report the size again: the table is built from the first
    // answer of the new version, and until then a connection asks from 0.
    for (TPeerId *candidate : candidates) {
        if (candidate->IsServer() && candidate->PartsIfAny() != nullptr)
            candidate->Parts().serverSize = 0;
    }
    ClearScheduling();
    ReleaseDataFile();
    haveMap.clear();
    live.doneBytes = 0;
    live.piecesDone = 0;
    ForgetResumeData("the file changed on the server; starting again");
    PublishStatus(true, true);
    return true;
}

int32_t TWorkWithPieces::DataFileCount() const
{
    return HasPieces() ? pieces->FileCount() : 0;
}

void TWorkWithPieces::LoadSourceVersions()
{
    // An HTTP task is named by its first source line (it has no main source).
    const std::string firstUrl = sources.empty() ? std::string() : sources.front().text;
    bool otherFirstUrl = false;
    {
        QAutoLock hold(OwnLock());
        if (!DecodeSourceVersions(stateValues.versions, versions))
            versions = TSourceVersions();
        if (!IsHttpTask())
            return;
        otherFirstUrl = !versions.firstUrl.empty() && versions.firstUrl != firstUrl &&
                        (!stateValues.bits.empty() || !stateValues.part.empty());
        if (otherFirstUrl)
            versions = TSourceVersions();
    }
    if (versions.firstUrl != firstUrl) {
        versions.firstUrl = firstUrl;
        StoreSourceVersions();
    }
    if (otherFirstUrl)
        ForgetResumeData("the saved state is for another URL; starting again");
}

void TWorkWithPieces::StoreSourceVersions()
{
    QAutoLock hold(OwnLock());
    stateValues.versions = EncodeSourceVersions(versions);
    stateValues.versionsDirty = true;
}

void TWorkWithPieces::ForgetResumeData(const char *why)
{
    EngineLogFormat(LOG_CHANNEL_TASK_STATE, "%s: %s", targetFile.c_str(), why);
    TTaskStateValues values;
    {
        QAutoLock hold(OwnLock());
        stateValues.bits.clear();
        stateValues.part.clear();
        stateValues.bitsDirty = stateValues.partDirty = true;
        stateValues.versions = EncodeSourceVersions(versions);
        stateValues.versionsDirty = true;
        ++live.dataRestarts;
        values = stateValues;
    }
    // Blocks kept from the old version must not come back at the next start.
    if (!secondResumePath.empty())
        platform::RemoveFile(secondResumePath);
    if (SaveStateFile(resumePath, values)) {
        QAutoLock hold(OwnLock());
        stateValues.ClearDirty();
    }
}
