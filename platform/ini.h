#pragma once
#include <string>

namespace platform {

// Ini files with the Windows private-profile rules: section and key names
// compare case-insensitively, the first match wins, values are trimmed and
// lose one pair of surrounding quotes, integers read like atoi, and a missing
// file or key gives the default. One process-wide lock serialises every call;
// every write replaces the file atomically (temp file in the same folder,
// rename).
enum class IniDurability {
    Plain,  // renamed into place
    Synced, // also fsync'ed (file and folder): for lasting facts
};

std::string IniReadString(const std::string &file, const std::string &section, const std::string &key,
                          const std::string &defaultValue);
int IniReadInt(const std::string &file, const std::string &section, const std::string &key, int defaultValue);

// Writes key=value, adding the section and the key when missing; creates the file.
bool IniWriteString(const std::string &file, const std::string &section, const std::string &key,
                    const std::string &value, IniDurability durability = IniDurability::Plain);
// Removes a key, or a whole section.
bool IniDeleteKey(const std::string &file, const std::string &section, const std::string &key,
                  IniDurability durability = IniDurability::Plain);
bool IniDeleteSection(const std::string &file, const std::string &section,
                      IniDurability durability = IniDurability::Plain);

} // namespace platform
