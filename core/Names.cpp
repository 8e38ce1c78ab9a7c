#include "core/Names.h"

#include "base/Mon.h"

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
