// Small text helpers shared by every layer.
#include "base/StrUtil.h"

std::string StrTrim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') b++;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') e--;
    return s.substr(b, e - b);
}

std::string StrLower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string StrUpper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}
