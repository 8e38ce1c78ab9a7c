// Small text helpers shared by every layer.
#include "base/StrUtil.h"

#include "base/Basic.h"
#include "base/Mon.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace {

std::string fixed_(double value, int decimals)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

}  // namespace

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

std::string GetFileSizeStr(double size)
{
    TRACE("miscprocs.GetFileSizeStr");
    const double kb = 1024.0, mb = kb * 1024, gb = mb * 1024, tb = gb * 1024;
    if (size > tb) return fixed_(size / tb, 1) + " TB";
    if (size > gb) return fixed_(size / gb, 1) + " GB";
    if (size > mb) return fixed_(size / mb, 1) + " MB";
    return fixed_(size / kb, 1) + " kB";
}

int PosFrom(const std::string& needle, const std::string& text, int start)
{
    TRACE("miscprocs.PosFrom");
    if (needle.empty() || text.empty()) return 0;
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > text.size()) return 0;
    size_t at = text.find(needle, static_cast<size_t>(start - 1));
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

int32_t HexToInt(const std::string& text, int32_t def)
{
    TRACE("miscprocs.HexToInt");
    if (text.empty()) return def;
    uint32_t v = 0;
    for (char c : text) {
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<uint32_t>(c - 'a' + 10);
        else
            return def;
        v = v * 16 + d;
    }
    return static_cast<int32_t>(v);
}

void SecToStr(int flags, std::string& text, double seconds)
{
    TRACE("miscprocs.SecToStr");
    text.clear();
    double x = (std::isfinite(seconds) && seconds > 0) ? seconds : 0.0;
    if (x > 4.0e9 * 3600) x = 4.0e9 * 3600;
    double h = std::trunc(x / 3600);
    x -= 3600 * h;
    double m = std::trunc(x / 60);
    x -= 60 * m;
    double s = std::trunc(x);
    // A small allowance keeps 1.001 s from showing 000 ms through binary rounding.
    double ms = std::floor((x - s) * 1000 + 1e-6);
    if (ms > 999) ms = 999;
    auto num = [](int mode, double v) { return NumToStr(mode, static_cast<uint32_t>(v)); };
    if (h > 0 || (flags & 1)) {
        flags |= 2 | 4;
        text = num(202, h);
    }
    if (m > 0 || (flags & 2)) {
        flags |= 4;
        if (!text.empty()) text += ":";
        text += num(202, m);
    }
    if (s > 0 || (flags & 4)) {
        if (!text.empty()) text += ":";
        text += num(202, s);
    }
    if ((ms > 0 || (flags & 8)) && !(flags & 16)) {
        if (text.empty()) text = "0";
        text += "." + num(203, ms);
    }
}

std::string SecToStr(int flags, double seconds)
{
    TRACE("miscprocs.SecToStr");
    std::string text;
    SecToStr(flags, text, seconds);
    return text;
}

std::string ReplaceStr(const std::string& text, const std::string& oldText, const std::string& newText)
{
    TRACE("miscprocs.ReplaceStr");
    if (oldText.empty()) return text;
    if (newText.find(oldText) != std::string::npos) return std::string();
    // Scanning again from the start finds no occurrence before the last replacement's reach, so
    // the search resumes just before it.
    constexpr size_t limit = 64u * 1024 * 1024;
    std::string result = text;
    size_t from = 0;
    for (;;) {
        size_t at = result.find(oldText, from);
        if (at == std::string::npos) return result;
        result.replace(at, oldText.size(), newText);
        if (result.size() > limit) return std::string();
        from = at >= oldText.size() - 1 ? at - (oldText.size() - 1) : 0;
    }
}

bool SameText(const std::string& a, const std::string& b)
{
    TRACE("miscprocs.SameText");
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}
