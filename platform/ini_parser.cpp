#include "platform/ini_parser.h"

#include <cstdint>

namespace platform {

namespace {

const char kBom[] = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string &text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool HasQuotePair(const std::string &text)
{
    return text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front();
}

std::string Unquote(const std::string &text)
{
    return HasQuotePair(text) ? text.substr(1, text.size() - 2) : text;
}

// The stored form of a value: quoted when trimming or unquoting would
// otherwise change it on the way back.
std::string Quote(const std::string &value)
{
    if (value.empty())
        return value;
    if (IsBlank(value.front()) || IsBlank(value.back()) || HasQuotePair(value))
        return '"' + value + '"';
    return value;
}

bool HasLineBreak(const std::string &text) { return text.find_first_of("\r\n") != std::string::npos; }

void Classify(IniDocument::Line &line)
{
    std::string body = Trim(line.text);
    line.name.clear();
    line.value.clear();
    if (body.empty()) {
        line.kind = IniDocument::Kind::Blank;
    } else if (body[0] == ';') {
        line.kind = IniDocument::Kind::Comment;
    } else if (body[0] == '[') {
        size_t close = body.find(']');
        if (close == std::string::npos) {
            line.kind = IniDocument::Kind::Other;
        } else {
            line.kind = IniDocument::Kind::Section;
            line.name = Trim(body.substr(1, close - 1));
        }
    } else {
        size_t equals = body.find('=');
        if (equals == std::string::npos) {
            line.kind = IniDocument::Kind::Other;
        } else {
            line.kind = IniDocument::Kind::Entry;
            line.name = Trim(body.substr(0, equals));
            line.value = Unquote(Trim(body.substr(equals + 1)));
        }
    }
}

IniDocument::Line MakeLine(const std::string &text)
{
    IniDocument::Line line;
    line.text = text;
    Classify(line);
    return line;
}

} // namespace

IniDocument IniDocument::Parse(const std::string &text)
{
    IniDocument doc;
    size_t pos = 0;
    if (text.compare(0, 3, kBom) == 0) {
        doc.bom = kBom;
        pos = 3;
    }
    bool endingSeen = false;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        Line line;
        if (eol == std::string::npos) {
            line.text = text.substr(pos);
            pos = text.size();
        } else {
            size_t end = eol;
            if (end > pos && text[end - 1] == '\r') {
                --end;
                line.ending = "\r\n";
            } else {
                line.ending = "\n";
            }
            line.text = text.substr(pos, end - pos);
            pos = eol + 1;
            if (!endingSeen) {
                doc.newline = line.ending;
                endingSeen = true;
            }
        }
        Classify(line);
        doc.lines.push_back(std::move(line));
    }
    doc.Reindex();
    return doc;
}

std::string IniDocument::Serialize() const
{
    std::string out = bom;
    for (const Line &line : lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

void IniDocument::Reindex()
{
    bool inSection = false;
    size_t section = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section) {
            inSection = true;
            section = i;
        }
        lines[i].inSection = inSection;
        lines[i].section = inSection ? section : 0;
    }
}

bool IniDocument::SectionMatches(const Line &line, const std::string &wanted) const
{
    return line.inSection && SameName(lines[line.section].name, wanted);
}

std::optional<size_t> IniDocument::FindEntryLine(const std::string &section, const std::string &key) const
{
    std::string wantedSection = Trim(section);
    std::string wantedKey = Trim(key);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.kind == Kind::Entry && SectionMatches(line, wantedSection) && SameName(line.name, wantedKey))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::Find(const std::string &section, const std::string &key) const
{
    std::optional<size_t> found = FindEntryLine(section, key);
    if (!found)
        return std::nullopt;
    return lines[*found].value;
}

bool IniDocument::IsStorableSection(const std::string &section)
{
    std::string name = Trim(section);
    return !name.empty() && name.find(']') == std::string::npos && !HasLineBreak(name);
}

bool IniDocument::IsStorableKey(const std::string &key)
{
    std::string name = Trim(key);
    return !name.empty() && name[0] != ';' && name[0] != '[' && name.find('=') == std::string::npos &&
           !HasLineBreak(name);
}

bool IniDocument::IsStorableValue(const std::string &value) { return !HasLineBreak(value); }

void IniDocument::Insert(size_t position, Line line)
{
    if (position > 0 && lines[position - 1].ending.empty())
        lines[position - 1].ending = newline;
    line.ending = newline;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(position), std::move(line));
}

bool IniDocument::Set(const std::string &section, const std::string &key, const std::string &value)
{
    if (!IsStorableSection(section) || !IsStorableKey(key) || !IsStorableValue(value))
        return false;
    std::string stored = Quote(value);
    if (std::optional<size_t> found = FindEntryLine(section, key)) {
        Line &line = lines[*found];
        line.text = line.name + '=' + stored;
        Classify(line);
        return true;
    }
    std::string wanted = Trim(section);
    Line entry = MakeLine(Trim(key) + '=' + stored);
    // The first section of that name takes the key, after its last entry.
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Kind::Section || !SameName(lines[i].name, wanted))
            continue;
        size_t after = i + 1;
        for (size_t j = i + 1; j < lines.size() && lines[j].kind != Kind::Section; ++j) {
            if (lines[j].kind == Kind::Entry)
                after = j + 1;
        }
        Insert(after, std::move(entry));
        Reindex();
        return true;
    }
    Insert(lines.size(), MakeLine('[' + wanted + ']'));
    Insert(lines.size(), std::move(entry));
    Reindex();
    return true;
}

bool IniDocument::RemoveKey(const std::string &section, const std::string &key)
{
    std::string wantedSection = Trim(section);
    std::string wantedKey = Trim(key);
    std::vector<bool> drop(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        drop[i] = line.kind == Kind::Entry && SectionMatches(line, wantedSection) && SameName(line.name, wantedKey);
    }
    return EraseMarked(drop);
}

bool IniDocument::RemoveSection(const std::string &section)
{
    std::string wanted = Trim(section);
    std::vector<bool> drop(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i)
        drop[i] = lines[i].inSection && SameName(lines[lines[i].section].name, wanted);
    return EraseMarked(drop);
}

bool IniDocument::EraseMarked(const std::vector<bool> &drop)
{
    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (drop[i])
            continue;
        if (kept != i)
            lines[kept] = std::move(lines[i]);
        ++kept;
    }
    if (kept == lines.size())
        return false;
    lines.resize(kept);
    Reindex();
    return true;
}

int IniValueToInt(const std::string &value)
{
    size_t i = 0;
    while (i < value.size() && (IsBlank(value[i]) || value[i] == '\n' || value[i] == '\r' || value[i] == '\v' ||
                                value[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    uint32_t result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        result = result * 10u + static_cast<uint32_t>(value[i] - '0');
    if (negative)
        result = 0u - result;
    return static_cast<int>(result);
}

} // namespace platform
