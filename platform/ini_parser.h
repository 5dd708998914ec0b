#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// An ini file held in memory line by line, so that an edit changes only the
// lines it must and everything else (comments, order, line endings) survives.
//
// Reading rules: leading and trailing spaces and tabs never count; a line
// starting with ';' is a comment; "[name]" opens a section; "key=value" is an
// entry (the first '=' splits it); any other line is ignored. Entries before
// the first section belong to no section and are never found. Names compare
// case-insensitively (ASCII). A value loses one pair of matching surrounding
// quotes ('"' or '\''). Sections of the same name count as one, in file order,
// and the first matching key wins.
class IniDocument {
public:
    enum class Kind { Blank, Comment, Section, Entry, Other };

    struct Line {
        std::string text;       // as in the file, without its line ending
        std::string ending;     // "\n", "\r\n", or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name;       // section or key name, trimmed
        std::string value;      // entry value, trimmed and unquoted
        bool inSection = false; // false for entries before the first section
        size_t section = 0;     // index of the section header line when inSection
    };

    static IniDocument Parse(const std::string &text);
    std::string Serialize() const;

    std::optional<std::string> Find(const std::string &section, const std::string &key) const;

    // Edits report whether the document changed. Set fails (returns false and
    // leaves the document alone) when a name or value cannot be stored so that
    // it reads back the same; see IsStorable*.
    bool Set(const std::string &section, const std::string &key, const std::string &value);
    bool RemoveKey(const std::string &section, const std::string &key);
    bool RemoveSection(const std::string &section);

    static bool IsStorableSection(const std::string &section);
    static bool IsStorableKey(const std::string &key);
    static bool IsStorableValue(const std::string &value);

    const std::vector<Line> &Lines() const { return lines; }

private:
    bool SectionMatches(const Line &line, const std::string &wanted) const;
    std::optional<size_t> FindEntryLine(const std::string &section, const std::string &key) const;
    void Insert(size_t position, Line line);
    bool EraseMarked(const std::vector<bool> &drop);
    void Reindex();

    std::string bom;           // a UTF-8 byte order mark, kept as found
    std::string newline = "\n"; // the ending new lines get: what the file used first
    std::vector<Line> lines;
};

// The integer of an ini value read like atoi: leading blanks, an optional
// sign, decimal digits up to the first other character; no digits give 0.
// Digits accumulate modulo 2^32, so an unsigned 32-bit value written with
// "%u" reads back with the same bits.
int IniValueToInt(const std::string &value);

} // namespace platform
