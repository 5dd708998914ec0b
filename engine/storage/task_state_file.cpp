#include "engine/storage/task_state_file.h"

#include "engine/storage/bencode.h"
#include "platform/atomic_replace.h"
#include "platform/crash_point.h"
#include "platform/read_file.h"

namespace {
// A state file holds a torrent of at most this size and small records.
constexpr size_t kMaxStateFileBytes = size_t{80} << 20;
// Values this short are leftovers, not records.
constexpr size_t kMinValueBytes = 3;

struct Entry {
    const char *key;
    std::string TTaskStateValues::*value;
};
// File order.
constexpr Entry kEntries[] = {
    {"bits", &TTaskStateValues::bits},
    {"part", &TTaskStateValues::part},
    {"seeds", &TTaskStateValues::seeds},
    {"torrent", &TTaskStateValues::torrent},
    {"versions", &TTaskStateValues::versions},
};
} // namespace

std::string EncodeStateFile(const TTaskStateValues &values)
{
    std::unique_ptr<QElement> root = CreateElement("de", 2);
    for (const Entry &entry : kEntries) {
        const std::string &value = values.*entry.value;
        if (value.empty())
            continue;
        root->AppendString(entry.key);
        root->AppendString(value);
    }
    std::string out;
    Encode(root.get(), out);
    return out;
}

bool DecodeStateFile(const std::string &bytes, TTaskStateValues &values)
{
    std::unique_ptr<QElement> root = CreateElement(bytes.data(), static_cast<int64_t>(bytes.size()));
    if (!root || root->Type() != ELEMENT_DICTIONARY)
        return false;
    for (const Entry &entry : kEntries) {
        const QElement *value = root->FindValue(entry.key);
        if (value != nullptr && value->Type() == ELEMENT_STRING && value->Bytes().size() >= kMinValueBytes)
            values.*entry.value = std::string(value->Bytes());
    }
    return true;
}

bool LoadStateFile(const std::string &path, TTaskStateValues &values)
{
    if (path.empty())
        return false;
    std::string bytes;
    if (platform::ReadWholeFile(path, kMaxStateFileBytes, bytes) == platform::ReadFileStatus::Ok &&
        DecodeStateFile(bytes, values))
        values.ClearDirty();
    return true;
}

bool SaveStateFile(const std::string &path, TTaskStateValues &values)
{
    if (path.empty())
        return false;
    if (!values.AnyDirty())
        return true;
    const std::string bytes = EncodeStateFile(values);
    platform::ReplacementFile file;
    if (!file.Begin(path) || !file.Write(bytes.data(), bytes.size()))
        return false;
    platform::CrashPointReached("record-rename");
    if (!file.Commit(true))
        return false;
    values.ClearDirty();
    return true;
}
