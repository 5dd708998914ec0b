#include "platform/ini.h"

#include "platform/atomic_replace.h"
#include "platform/ini_parser.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Ini files are a few kilobytes; anything this large is not one of ours and
// is neither loaded nor rewritten.
constexpr off_t kMaxIniBytes = 16 * 1024 * 1024;

std::mutex &IniLock()
{
    static std::mutex lock;
    return lock;
}

enum class Load { Ok, Missing, Failed };

Load LoadIniText(const std::string &path, std::string &text)
{
    text.clear();
    if (path.empty() || path.find('\0') != std::string::npos)
        return Load::Failed;
    // O_NONBLOCK so that a FIFO in the file's place cannot hang the caller.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? Load::Missing : Load::Failed;
    struct stat info {};
    Load result = Load::Ok;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxIniBytes) {
        result = Load::Failed;
    } else {
        char buffer[16384];
        for (;;) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || text.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxIniBytes)) {
                result = Load::Failed;
                break;
            }
            if (n == 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    return result;
}

std::optional<std::string> ReadValue(const std::string &file, const std::string &section, const std::string &key)
{
    std::lock_guard<std::mutex> hold(IniLock());
    std::string text;
    if (LoadIniText(file, text) != Load::Ok)
        return std::nullopt;
    return IniDocument::Parse(text).Find(section, key);
}

// Loads the file (a missing one is empty), applies the edit and replaces the
// file when the edit changed it. A file that exists but cannot be read is
// never overwritten.
template <typename Edit>
bool EditFile(const std::string &file, IniDurability durability, bool createMissing, Edit edit)
{
    std::lock_guard<std::mutex> hold(IniLock());
    std::string text;
    Load load = LoadIniText(file, text);
    if (load == Load::Failed)
        return false;
    if (load == Load::Missing && !createMissing)
        return true;
    IniDocument doc = IniDocument::Parse(text);
    if (!edit(doc))
        return true; // nothing to change
    return ReplaceFileAtomically(file, doc.Serialize(), durability == IniDurability::Synced);
}

} // namespace

std::string IniReadString(const std::string &file, const std::string &section, const std::string &key,
                          const std::string &defaultValue)
{
    std::optional<std::string> value = ReadValue(file, section, key);
    return value ? *value : defaultValue;
}

int IniReadInt(const std::string &file, const std::string &section, const std::string &key, int defaultValue)
{
    std::optional<std::string> value = ReadValue(file, section, key);
    // An empty value reads like a missing one, as the Windows call does.
    if (!value || value->empty())
        return defaultValue;
    return IniValueToInt(*value);
}

bool IniWriteString(const std::string &file, const std::string &section, const std::string &key,
                    const std::string &value, IniDurability durability)
{
    // Checked first: past this point Set always changes the document.
    if (!IniDocument::IsStorableSection(section) || !IniDocument::IsStorableKey(key) ||
        !IniDocument::IsStorableValue(value))
        return false;
    return EditFile(file, durability, true,
                    [&](IniDocument &doc) { return doc.Set(section, key, value); });
}

bool IniDeleteKey(const std::string &file, const std::string &section, const std::string &key,
                  IniDurability durability)
{
    return EditFile(file, durability, false, [&](IniDocument &doc) { return doc.RemoveKey(section, key); });
}

bool IniDeleteSection(const std::string &file, const std::string &section, IniDurability durability)
{
    return EditFile(file, durability, false, [&](IniDocument &doc) { return doc.RemoveSection(section); });
}

} // namespace platform
