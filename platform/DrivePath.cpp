// Case-insensitive lookup below the drive root and the mapping between host and Windows paths.
#include "platform/DrivePath.h"

#include "base/Mon.h"
#include "platform/FileStamp.h"
#include "platform/SysInfo.h"

#include <dirent.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <map>
#include <unordered_map>
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

// path made absolute and normal as std::filesystem::absolute and lexically_normal make it, in the
// form "/a/b" ("" for "/"): empty and "." parts dropped, ".." taking the part before it.
bool normalText_(const std::string& path, std::string& normal)
{
    normal.clear();
    if (path.empty()) return false;
    std::string abs;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return false;
        abs = std::string(cwd) + "/" + path;
    }
    const std::string& p = path[0] == '/' ? path : abs;
    normal.reserve(p.size());
    for (size_t at = 0; at < p.size();) {
        size_t end = p.find('/', at);
        if (end == std::string::npos) end = p.size();
        const size_t len = end - at;
        if (len == 2 && p.compare(at, 2, "..") == 0) {
            normal.resize(normal.rfind('/') == std::string::npos ? 0 : normal.rfind('/'));
        } else if (len > 0 && !(len == 1 && p[at] == '.')) {
            normal += '/';
            normal.append(p, at, len);
        }
        at = end + 1;
    }
    return true;
}

// The normal text of root. An absolute root's depends on its text alone, so the last one is kept:
// every drive path asks for the same root.
bool normalRoot_(const std::string& root, std::string& normal)
{
    static thread_local std::string lastRoot;
    static thread_local std::string lastNormal;
    if (root[0] == '/' && root == lastRoot) {
        normal = lastNormal;
        return true;
    }
    if (!normalText_(root, normal)) return false;
    if (root[0] == '/') lastRoot = root, lastNormal = normal;
    return true;
}

// The parts of path below root (both made absolute and normal); false when path is not below it.
bool partsBelow_(const std::string& root, const std::string& path, std::vector<std::string>& parts)
{
    parts.clear();
    if (root.empty() || path.empty()) return false;
    std::string r, p;
    if (!normalRoot_(root, r) || !normalText_(path, p)) return false;
    if (p.compare(0, r.size(), r) != 0 || (p.size() > r.size() && p[r.size()] != '/')) return false;
    for (size_t at = r.size() + 1; at < p.size();) {
        size_t end = p.find('/', at);
        if (end == std::string::npos) end = p.size();
        parts.emplace_back(p, at, end - at);
        at = end + 1;
    }
    return true;
}

// Whether text has a "." or ".." part.
bool hasDots_(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('/', at);
        if (end == std::string::npos) end = text.size();
        if ((end - at == 1 && text[at] == '.') || (end - at == 2 && text.compare(at, 2, "..") == 0)) return true;
        at = end + 1;
    }
    return false;
}

// Whether path, below root as written, also lies there: neither has a "." or ".." part and no
// existing part below the root is a link. False when that is not so or not certain.
bool plainBelow_(const std::string& root, const std::string& path, const std::vector<std::string>& parts)
{
    if (hasDots_(root) || hasDots_(path)) return false;
    std::string cur = withSlash_(root);
    for (const std::string& part : parts) {
        cur += part;
        struct stat st;
        // What does not exist is followed by nothing that could lead elsewhere.
        if (lstat(cur.c_str(), &st) != 0) return errno == ENOENT;
        if (S_ISLNK(st.st_mode)) return false;
        cur += '/';
    }
    return true;
}

// ---- folder listings ----
// A folder's names are read once and kept while its stamp stays the same; the stamp changes with
// every name added, removed or renamed there, by this program or another.

// An entry of a folder: its name and its kind as readdir gives it (DT_LNK for a link,
// DT_UNKNOWN when the file system does not tell).
struct Entry_ {
    std::string name;
    unsigned char type = DT_UNKNOWN;
};

struct Listing_ {
    FileStamp stamp;
    std::unordered_map<std::string, std::vector<Entry_>> byFolded;  // entries by fold_ of the name
};

constexpr size_t LISTINGS_MAX_ = 64;

std::map<std::string, Listing_>& listings_()
{
    static std::map<std::string, Listing_> listings;
    return listings;
}

// Two spellings of one name can only exist on a copy; the first in name order wins.
void better_(Entry_& match, const char* entry, unsigned char type, const std::string& name)
{
    if (strcasecmp(entry, name.c_str()) == 0 && (match.name.empty() || match.name > entry)) match = {entry, type};
}

// name in lower case, letter by letter as strcasecmp compares.
std::string fold_(const std::string& name)
{
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// The kept listing of dir while it is current, else nullptr.
const Listing_* keptListing_(const std::string& dir)
{
    auto& listings = listings_();
    auto it = listings.find(dir);
    if (it == listings.end()) return nullptr;
    if (StampSame(StampOf(dir), it->second.stamp)) return &it->second;
    listings.erase(it);
    return nullptr;
}

Entry_ matchIn_(const Listing_& listing, const std::string& name)
{
    auto it = listing.byFolded.find(fold_(name));
    if (it == listing.byFolded.end()) return Entry_();
    Entry_ match;
    for (const Entry_& entry : it->second) {
        if (entry.name == name) return entry;
        better_(match, entry.name.c_str(), entry.type, name);
    }
    return match;
}

// Reads dir for name; the entries are kept when the folder's stamp proves later changes would show.
Entry_ listAndMatch_(const std::string& dir, const std::string& name)
{
    const StampClock now = StampNow();
    DIR* d = opendir(dir.c_str());
    if (!d) return Entry_();
    Listing_ listing;
    listing.stamp = StampOfFd(dirfd(d));
    const bool keep = listing.stamp.exists && StampSettled(listing.stamp, now);
    Entry_ match;
    while (dirent* e = readdir(d)) {
        if (keep) listing.byFolded[fold_(e->d_name)].push_back({e->d_name, e->d_type});
        better_(match, e->d_name, e->d_type, name);
    }
    closedir(d);
    if (keep) {
        auto& listings = listings_();
        if (listings.size() >= LISTINGS_MAX_) listings.clear();
        listings[dir] = std::move(listing);
    }
    return match;
}

// DriveFindName with the kind of what was found.
Entry_ findName_(const std::string& folder, const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return {name, DT_UNKNOWN};
    const std::string dir = folder.empty() ? std::string("./") : withSlash_(folder);
    if (const Listing_* kept = keptListing_(dir)) return matchIn_(*kept, name);
    struct stat st;
    if (lstat((dir + name).c_str(), &st) == 0) return {name, static_cast<unsigned char>(S_ISLNK(st.st_mode) ? DT_LNK : DT_REG)};
    return listAndMatch_(dir, name);
}

// root + parts, each existing one found ignoring case. plain tells whether none of the parts found
// is (or may be) a link, so the path leads where it is written.
std::string build_(const std::string& root, const std::vector<std::string>& parts, bool folder, bool& plain)
{
    std::string cur = root;
    bool missing = false;
    plain = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        // Nothing below a missing part exists either.
        const Entry_ found = missing ? Entry_() : findName_(cur, parts[i]);
        missing = found.name.empty();
        plain = plain && (missing || (found.type != DT_LNK && found.type != DT_UNKNOWN));
        cur += missing ? parts[i] : found.name;
        if (i + 1 < parts.size() || folder) cur += '/';
    }
    return cur;
}

// ---- the operations below a given drive root ----

// path with its parts found ignoring case; plain as build_ gives it (false for a path off the drive).
std::string resolveIn_(const std::string& root, const std::string& path, bool& plain)
{
    std::vector<std::string> parts;
    plain = false;
    if (!partsBelow_(root, path, parts)) return path;
    return build_(root, parts, endsWithSeparator_(path) && !parts.empty(), plain);
}

bool containsIn_(const std::string& root, const std::string& path)
{
    std::vector<std::string> parts;
    if (!partsBelow_(root, path, parts)) return false;
    if (plainBelow_(root, path, parts)) return true;
    std::error_code ec;
    const fs::path realRoot = fs::weakly_canonical(root, ec);
    if (ec) return false;
    const fs::path real = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return false;
    return partsBelow_(realRoot.string(), real.string(), parts);
}

// Whether a path found below root stays inside: a link inside a copied drive may still lead
// elsewhere. What the lookup saw spares the walk for a plain path.
bool leadsInside_(const std::string& root, const std::string& path, bool plain)
{
    return (plain && !hasDots_(root)) || containsIn_(root, path);
}

std::string toWinIn_(const std::string& root, const std::string& path)
{
    std::vector<std::string> parts;
    if (!partsBelow_(root, path, parts)) return std::string();
    std::string win = "C:\\";
    for (size_t i = 0; i < parts.size(); ++i) win += parts[i] + (i + 1 < parts.size() ? "\\" : "");
    if (endsWithSeparator_(path) && !parts.empty()) win += '\\';
    return win;
}

std::string fromWinIn_(const std::string& root, const std::string& text)
{
    if (!DriveIsWinPath(text) || (text[0] | 0x20) != 'c' || root.empty()) return std::string();
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
    bool plain;
    const std::string path = build_(root, parts, endsWithSeparator_(text) && !parts.empty(), plain);
    return leadsInside_(root, path, plain) ? path : std::string();
}

void (*Fetcher_)(const std::string&) = nullptr;

}  // namespace

void DriveFetch(const std::string& path)
{
    TRACE("DrivePath.DriveFetch");
    if (Fetcher_) Fetcher_(path);
}

void DriveSetFetcher(void (*fetch)(const std::string& path))
{
    TRACE("DrivePath.DriveSetFetcher");
    Fetcher_ = fetch;
}

std::string DriveRoot()
{
    TRACE("DrivePath.DriveRoot");
    return withSlash_(SysDriveRoot());
}

std::string DriveFindName(const std::string& folder, const std::string& name)
{
    TRACE("DrivePath.DriveFindName");
    return findName_(folder, name).name;
}

std::string DriveResolve(const std::string& path)
{
    TRACE("DrivePath.DriveResolve");
    bool plain;
    return resolveIn_(DriveRoot(), path, plain);
}

bool DriveContains(const std::string& path)
{
    TRACE("DrivePath.DriveContains");
    return containsIn_(DriveRoot(), path);
}

bool DriveLeadsOff(const std::string& path)
{
    TRACE("DrivePath.DriveLeadsOff");
    const std::string root = DriveRoot();
    return !toWinIn_(root, path).empty() && !containsIn_(root, path);
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
    return toWinIn_(DriveRoot(), path);
}

std::string DriveFromWin(const std::string& text)
{
    TRACE("DrivePath.DriveFromWin");
    if (!DriveIsWinPath(text)) return std::string();
    return fromWinIn_(DriveRoot(), text);
}

std::string DriveFromStored(const std::string& text)
{
    TRACE("DrivePath.DriveFromStored");
    if (DriveIsWinPath(text)) return DriveFromWin(text);
    if (text.empty() || text[0] != '/') return std::string();
    const std::string root = DriveRoot();
    // Checked where it leads once found: another spelling of a name may be a link that leaves.
    bool plain;
    const std::string path = resolveIn_(root, text, plain);
    return leadsInside_(root, path, plain) ? path : std::string();
}

std::string DriveStoredText(const std::string& path)
{
    TRACE("DrivePath.DriveStoredText");
    if (DriveIsWinPath(path)) return path;
    const std::string root = DriveRoot();
    bool plain;
    const std::string win = toWinIn_(root, resolveIn_(root, path, plain));
    return win.empty() ? path : win;
}
