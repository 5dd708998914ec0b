// Decodes arbitrary bytes as a task state file, and its "versions" value as
// the sources' versions. Whatever decodes must encode and decode again to the
// same values.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/storage/source_versions.h"
#include "engine/storage/task_state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    TTaskStateValues values;
    if (!DecodeStateFile(bytes, values))
        return 0;
    TTaskStateValues again;
    if (!DecodeStateFile(EncodeStateFile(values), again))
        std::abort();
    if (again.bits != values.bits || again.part != values.part || again.seeds != values.seeds ||
        again.torrent != values.torrent || again.versions != values.versions)
        std::abort();
    TSourceVersions versions;
    if (!DecodeSourceVersions(values.versions, versions))
        return 0;
    TSourceVersions versionsAgain;
    if (!DecodeSourceVersions(EncodeSourceVersions(versions), versionsAgain) ||
        versionsAgain.firstUrl != versions.firstUrl || versionsAgain.validators != versions.validators)
        std::abort();
    return 0;
}
