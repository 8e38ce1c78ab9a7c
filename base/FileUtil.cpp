// Paths and files.
#include "base/FileUtil.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/WriteJournal.h"

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

}  // namespace

std::string AddBS(const std::string& path)
{
    TRACE("miscprocs.AddBS");
    if (path.empty() || path.back() == '/') return path;
    return path + "/";
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
    if (fs::create_directories(fs::path(folder), ec)) JournalNote(folder);
    return fs::is_directory(fs::path(folder), ec);
}
