#include "core/Names.h"

#include "base/Mon.h"

#include <algorithm>

int SeparatorPos(const std::string& name, bool after)
{
    TRACE("Names.SeparatorPos");
    size_t found = name.find(NAME_SEPARATOR);
    int p = found == std::string::npos ? 0 : static_cast<int>(found) + 1;  // 1-based
    if (p > 0 && after) p += 2;
    return (p > 1 && p < static_cast<int>(name.size())) ? p - 1 : 0;
}

std::string NameAfterSeparator(const std::string& name, bool after)
{
    TRACE("Names.NameAfterSeparator");
    int k = SeparatorPos(name, after);
    return k > 0 ? name.substr(k) : name;
}

std::string NameBeforeSeparator(const std::string& name, bool after)
{
    TRACE("Names.NameBeforeSeparator");
    int k = SeparatorPos(name, after);
    return k > 0 ? name.substr(0, k) : std::string();
}

std::string RemoveAll(const std::string& text, const std::string& sub)
{
    TRACE("Names.RemoveAll");
    std::string s = text;
    if (sub.empty()) return s;
    // Always the first remaining occurrence: "---" loses one "--" and keeps one hyphen.
    for (size_t p = s.find(sub); p != std::string::npos; p = s.find(sub)) s.erase(p, sub.size());
    return s;
}

std::string SanitizeChars(const std::string& text)
{
    TRACE("Names.SanitizeChars");
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') b++;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') e--;
    std::string s = text.substr(b, e - b);
    for (char& c : s) {
        switch (c) {
        case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
            c = '_';
            break;
        default:
            break;
        }
    }
    return s;
}

std::string SanitizeName(const std::string& text, bool addSeparator)
{
    TRACE("Names.SanitizeName");
    std::string s = RemoveAll(SanitizeChars(text), NAME_SEPARATOR);
    if (s.empty()) s = "MyPicture";
    if (addSeparator) s += NAME_SEPARATOR;
    return s;
}

static bool IsContinuation_(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string NameCutUtf8(const std::string& text, size_t maxBytes)
{
    TRACE("Names.NameCutUtf8");
    if (text.size() <= maxBytes) return text;
    size_t n = maxBytes;
    while (n > 0 && IsContinuation_(text[n])) --n;
    return text.substr(0, n);
}

// Bytes taken by the first count characters of text.
static size_t BytesOfChars_(const std::string& text, size_t count)
{
    size_t at = 0;
    for (size_t chars = 0; at < text.size() && chars < count; ++chars)
        for (++at; at < text.size() && IsContinuation_(text[at]);) ++at;
    return at;
}

std::string NameJoinPrefix(const std::string& prefix, const std::string& rest, size_t maxBytes)
{
    TRACE("Names.NameJoinPrefix");
    const std::string sep = NAME_SEPARATOR;
    if (prefix.size() + sep.size() + rest.size() <= maxBytes) return prefix + sep + rest;
    const size_t dot = rest.find_last_of('.');
    const std::string ext = (dot == std::string::npos || rest.size() - dot > 16) ? std::string() : rest.substr(dot);
    const std::string stem = rest.substr(0, rest.size() - ext.size());
    // At least one byte of prefix stays, so the name keeps its separator.
    const size_t most = maxBytes > sep.size() + ext.size() + 1 ? maxBytes - sep.size() - ext.size() - 1 : 0;
    size_t room = maxBytes > prefix.size() + sep.size() + ext.size() ? maxBytes - prefix.size() - sep.size() - ext.size() : 0;
    room = std::min(std::max(room, BytesOfChars_(stem, NAME_KEEP_MIN)), most);
    const std::string keptStem = NameCutUtf8(stem, room);
    const size_t prefixRoom = maxBytes - sep.size() - ext.size() - keptStem.size();
    return NameCutUtf8(prefix, prefixRoom) + sep + keptStem + ext;
}
