// Case-insensitive lookup below the drive root and the mapping between host and Windows paths.
#include "platform/DrivePath.h"

#include "base/Mon.h"
#include "platform/SysInfo.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string withSlash_(const std::string& p)
{
    return p.empty() || p.back() == '/' ? p : p + "/";
}

bool endsWithSeparator_(const std::string& p)
{
    return !p.empty() && (p.back() == '/' || p.back() == '\\');
}

// The normal form of root. An absolute root's depends on its text alone, so the last one is kept:
// every drive path asks for the same root.
bool normalRoot_(const std::string& root, fs::path& normal)
{
    static thread_local std::string lastRoot;
    static thread_local fs::path lastNormal;
    if (root[0] == '/' && root == lastRoot) {
        normal = lastNormal;
        return true;
    }
    std::error_code ec;
    normal = fs::absolute(root, ec).lexically_normal();
    if (ec) return false;
    if (root[0] == '/') lastRoot = root, lastNormal = normal;
    return true;
}

// The parts of path below root (both made absolute and normal); false when path is not below it.
bool partsBelow_(const std::string& root, const std::string& path, std::vector<std::string>& parts)
{
    parts.clear();
    if (root.empty() || path.empty()) return false;
    fs::path r;
    if (!normalRoot_(root, r)) return false;
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec).lexically_normal();
    if (ec) return false;
    auto ri = r.begin(), pi = p.begin();
    for (; ri != r.end() && !ri->empty(); ++ri, ++pi)
        if (pi == p.end() || *ri != *pi) return false;
    for (; pi != p.end(); ++pi)
        if (!pi->empty()) parts.push_back(pi->string());
    return true;
}

// root + parts, each existing one found ignoring case.
std::string build_(const std::string& root, const std::vector<std::string>& parts, bool folder)
{
    std::string cur = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string found = DriveFindName(cur, parts[i]);
        cur += found.empty() ? parts[i] : found;
        if (i + 1 < parts.size() || folder) cur += '/';
    }
    return cur;
}

}  // namespace

std::string DriveRoot()
{
    TRACE("DrivePath.DriveRoot");
    return withSlash_(SysDriveRoot());
}

std::string DriveFindName(const std::string& folder, const std::string& name)
{
    TRACE("DrivePath.DriveFindName");
    if (name.empty() || name == "." || name == "..") return name;
    const std::string dir = folder.empty() ? std::string("./") : withSlash_(folder);
    struct stat st;
    if (lstat((dir + name).c_str(), &st) == 0) return name;
    DIR* d = opendir(dir.c_str());
    if (!d) return std::string();
    std::string match;
    while (dirent* e = readdir(d)) {
        // Two spellings of one name can only exist on a copy; the first in name order wins.
        if (strcasecmp(e->d_name, name.c_str()) == 0 && (match.empty() || match > e->d_name)) match = e->d_name;
    }
    closedir(d);
    return match;
}

std::string DriveResolve(const std::string& path)
{
    TRACE("DrivePath.DriveResolve");
    const std::string root = DriveRoot();
    std::vector<std::string> parts;
    if (!partsBelow_(root, path, parts)) return path;
    return build_(root, parts, endsWithSeparator_(path) && !parts.empty());
}

bool DriveContains(const std::string& path)
{
    TRACE("DrivePath.DriveContains");
    const std::string root = DriveRoot();
    std::vector<std::string> parts;
    if (!partsBelow_(root, path, parts)) return false;
    std::error_code ec;
    const fs::path realRoot = fs::weakly_canonical(root, ec);
    if (ec) return false;
    const fs::path real = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return false;
    return partsBelow_(realRoot.string(), real.string(), parts);
}

bool DriveIsWinPath(const std::string& text)
{
    TRACE("DrivePath.DriveIsWinPath");
    return text.size() >= 3 && ((text[0] | 0x20) >= 'a' && (text[0] | 0x20) <= 'z') && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

std::string DriveToWin(const std::string& path)
{
    TRACE("DrivePath.DriveToWin");
    std::vector<std::string> parts;
    if (!partsBelow_(DriveRoot(), path, parts)) return std::string();
    std::string win = "C:\\";
    for (size_t i = 0; i < parts.size(); ++i) win += parts[i] + (i + 1 < parts.size() ? "\\" : "");
    if (endsWithSeparator_(path) && !parts.empty()) win += '\\';
    return win;
}

std::string DriveFromWin(const std::string& text)
{
    TRACE("DrivePath.DriveFromWin");
    if (!DriveIsWinPath(text) || (text[0] | 0x20) != 'c') return std::string();
    const std::string root = DriveRoot();
    if (root.empty()) return std::string();
    std::vector<std::string> parts;
    size_t start = 3;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\\/", start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        if (part == "..") {
            if (parts.empty()) return std::string();
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    const std::string path = build_(root, parts, endsWithSeparator_(text) && !parts.empty());
    // A link inside a copied drive may still lead elsewhere.
    return DriveContains(path) ? path : std::string();
}

std::string DriveFromStored(const std::string& text)
{
    TRACE("DrivePath.DriveFromStored");
    if (DriveIsWinPath(text)) return DriveFromWin(text);
    if (text.empty() || text[0] != '/' || !DriveContains(text)) return std::string();
    return DriveResolve(text);
}

std::string DriveStoredText(const std::string& path)
{
    TRACE("DrivePath.DriveStoredText");
    if (DriveIsWinPath(path)) return path;
    const std::string win = DriveToWin(DriveResolve(path));
    return win.empty() ? path : win;
}
