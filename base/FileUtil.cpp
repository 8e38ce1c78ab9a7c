// Shared helpers.
#include "base/miscprocs.h"

#include "base/Basic.h"
#include "base/CharSet.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "platform/SysInfo.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

char upper_(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Windows wildcards: '*' any run, '?' one character; letter case ignored.
bool wildMatch_(const std::string& pattern, const std::string& name)
{
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || upper_(pattern[p]) == upper_(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int64_t sizeOf_(const fs::directory_entry& e)
{
    std::error_code ec;
    if (e.is_directory(ec)) return 0;
    auto size = e.file_size(ec);
    return ec ? 0 : static_cast<int64_t>(size);
}

std::string fixed_(double value, int decimals)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

}  // namespace

std::string AddBS(const std::string& path)
{
    TRACE("miscprocs.AddBS");
    if (path.empty() || path.back() == '/') return path;
    return path + "/";
}

std::string GetAppDir()
{
    TRACE("miscprocs.GetAppDir");
    return SysProgramDir();
}

int64_t GetFileSize(const std::string& nameOrPattern)
{
    TRACE("miscprocs.GetFileSize");
    if (nameOrPattern.empty()) return Undef;
    size_t slash = nameOrPattern.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : nameOrPattern.substr(0, slash + 1);
    std::string pattern = nameOrPattern.substr(slash == std::string::npos ? 0 : slash + 1);
    if (pattern.empty()) return Undef;
    std::error_code ec;
    if (pattern.find_first_of("*?") == std::string::npos) {
        fs::directory_entry direct(fs::path(nameOrPattern), ec);
        if (!ec && direct.exists(ec)) return sizeOf_(direct);
    }
    if (pattern == "*.*") pattern = "*";
    fs::directory_iterator it(fs::path(dir), fs::directory_options::skip_permission_denied, ec);
    if (ec) return Undef;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (wildMatch_(pattern, it->path().filename().string())) return sizeOf_(*it);
    }
    return Undef;
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

std::string FileToStr(const std::string& name)
{
    TRACE("miscprocs.FileToStr");
    std::string result;
    MonBlockTransparent([&] {
        int handle = Undef;
        TXTOpen(handle, name, FM_READ);
        std::string line;
        bool first = true;
        while (TXTReadLn(handle, line)) {
            if (!first) result += "\r\n";
            result += line;
            first = false;
        }
        TXTClose(handle);
    });
    if (!MonOK()) result.clear();
    return result;
}

void StrToFile(const std::string& name, const std::string& text, bool append)
{
    TRACE("miscprocs.StrToFile");
    MonBlockTransparent([&] {
        if (!append) {
            SafeWrite(name, text + "\r\n");
            return;
        }
        int handle = Undef;
        TXTOpen(handle, name, FM_APPEND);
        TXTWrite(handle, text);
        TXTClose(handle);
    });
}

double DivisibleFloat(double value, double divisor)
{
    TRACE("miscprocs.DivisibleFloat");
    if (divisor == 0 || !std::isfinite(value) || !std::isfinite(divisor)) return value;
    return std::trunc(value / divisor) * divisor;
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

std::string ForceFileExt(const std::string& name, const std::string& ext)
{
    TRACE("miscprocs.ForceFileExt");
    std::string e = ext;
    if (!e.empty() && e[0] != '.') e = "." + e;
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return name.substr(0, dot) + e;
    return name + e;
}

bool MakeLongDir(const std::string& folder)
{
    TRACE("miscprocs.MakeLongDir");
    if (folder.empty()) return false;
    std::error_code ec;
    fs::create_directories(fs::path(folder), ec);
    return fs::is_directory(fs::path(folder), ec);
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

void CalcBoxResize(int srcWidth, int srcHeight, int boxWidth, int boxHeight, bool always,
                   int& x, int& y, int& width, int& height)
{
    TRACE("miscprocs.CalcBoxResize");
    width = srcWidth;
    height = srcHeight;
    if (!always && srcWidth <= boxWidth && srcHeight <= boxHeight) {
        x = (boxWidth - srcWidth) / 2;
        y = (boxHeight - srcHeight) / 2;
        return;
    }
    if (srcWidth != 0 && srcHeight != 0) {
        double rx = static_cast<double>(boxWidth) / srcWidth;
        double ry = static_cast<double>(boxHeight) / srcHeight;
        if (rx > 0 && ry > 0) {
            if (rx < ry) {
                width = boxWidth;
                height = static_cast<int>(srcHeight * rx);
            } else {
                height = boxHeight;
                width = static_cast<int>(srcWidth * ry);
            }
            if (width < 1) width = 1;
            if (height < 1) height = 1;
            x = std::abs(boxWidth - width) / 2;
            y = std::abs(boxHeight - height) / 2;
            return;
        }
    }
    x = 0;
    y = 0;
    width = boxWidth;
    height = boxHeight;
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

uint32_t AnsiCodePoint(unsigned char c)
{
    TRACE("miscprocs.AnsiCodePoint");
    const uint32_t u = CharWinToUnicode(c);
    // The code page's unused places have no character of their own.
    return u >= 0x80 && u < 0xA0 ? 0xFFFD : u;
}

std::string AnsiToUtf8(const std::string& text)
{
    TRACE("miscprocs.AnsiToUtf8");
    std::string out;
    for (unsigned char c : text) {
        const uint32_t u = AnsiCodePoint(c);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}
