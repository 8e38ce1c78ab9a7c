// Staging a disk image's Windows drive in a working folder and writing back what changed.
#include "platform/DriveStage.h"

#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/WriteJournal.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* DEFAULT_STORAGE = "Program Files/KvsLogos";
const char* const ROOT_FILES[] = {"LOGO.SYS", "MSDOS.SYS", "AUTOEXEC.BAT"};
// Folders of the Windows folder staged whole: the backups and the automatic change's logo sets.
const char* const WINDOWS_FOLDERS[] = {"logos.bak", "KVSROT"};
const char* const WINDOWS_FILES[] = {"WIN.INI", "registry.ini", "LOGOW.SYS", "LOGOS.SYS"};
constexpr const char* WORK_PREFIX = "kvs-drive-";
constexpr const char* OWNER_FILE = "owner";

[[noreturn]] void fail_(const std::string& text)
{
    MonErrorMsg(DISK_ERROR_CLASS, text, __LINE__);
    throw EMon(text);
}

std::string join_(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

std::string parentOf_(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string nameOf_(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith_(const std::string& s, const std::string& end)
{
    return s.size() > end.size() && strcasecmp(s.c_str() + s.size() - end.size(), end.c_str()) == 0;
}

// A temporary file of a write-back into the image that a kill cut short (older versions named
// them after the file with the safe write path's ending).
bool isImageTemp_(const std::string& path)
{
    const std::string name = nameOf_(path);
    return strcasecmp(name.c_str(), "kvs-new.tmp") == 0 || endsWith_(name, SAFE_TEMP_SUFFIX);
}

// The name a file is first written under in its folder. mren keeps the case flags of the entry it
// renames, so a short name spelt in lower case is only kept through a temporary name spelt so too.
std::string tempName_(const std::string& name)
{
    const size_t dot = name.rfind('.');
    const std::string base = name.substr(0, dot), ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    auto lower = [](const std::string& part) {
        bool any = false;
        for (char c : part) {
            if (c >= 'A' && c <= 'Z') return false;
            any = any || (c >= 'a' && c <= 'z');
        }
        return any;
    };
    return std::string(lower(base) ? "kvs-new" : "KVS-NEW") + "." + (lower(ext) ? "tmp" : "TMP");
}

void remember_(DriveStage& st, const std::vector<DiskEntry>& entries)
{
    for (const DiskEntry& e : entries) st.shortOf[e.path] = e.shortPath;
}

// Whether mtools takes path as it is: printable ASCII without a pattern character.
bool plainAddress_(const std::string& path)
{
    for (char c : path)
        if (c < 0x20 || c > 0x7e || c == '[' || c == ']' || c == '*' || c == '?' || c == '\\' || c == '"') return false;
    return true;
}

std::string address_(DriveStage& st, const std::string& rel);

// The short path of an entry of the image, listing its folder when it is not known yet; raises
// when the image holds no such entry.
std::string lookup_(DriveStage& st, const std::string& rel)
{
    if (rel.empty()) return std::string();
    auto it = st.shortOf.find(rel);
    if (it != st.shortOf.end()) return it->second;
    const std::string parent = parentOf_(rel);
    std::vector<DiskEntry> entries;
    DiskList(st.disk, parent, address_(st, parent), false, entries);
    remember_(st, entries);
    it = st.shortOf.find(rel);
    if (it == st.shortOf.end()) fail_("The disk image " + st.disk.path + " holds no " + rel + ".");
    return it->second;
}

// How mtools is told an existing entry: its path itself when that is plain, else its short path.
std::string address_(DriveStage& st, const std::string& rel)
{
    return plainAddress_(rel) ? rel : lookup_(st, rel);
}

// The entry of entries directly in folder named name ignoring case; nullptr for none.
const DiskEntry* find_(const std::vector<DiskEntry>& entries, const std::string& folder, const std::string& name, bool isFolder)
{
    for (const DiskEntry& e : entries)
        if (e.folder == isFolder && strcasecmp(e.path.c_str(), join_(folder, name).c_str()) == 0) return &e;
    return nullptr;
}

// Removes the temporary files a write-back cut short left (the file each was to replace is
// intact) and drops them from entries.
void tidy_(DriveStage& st, std::vector<DiskEntry>& entries)
{
    remember_(st, entries);
    if (!st.disk.readOnly)
        for (const DiskEntry& e : entries)
            if (!e.folder && isImageTemp_(e.path)) {
                DiskDelete(st.disk, e.shortPath);
                st.shortOf.erase(e.path);
            }
    std::erase_if(entries, [](const DiskEntry& e) { return !e.folder && isImageTemp_(e.path); });
}

// The backup folder comes out whole without a listing of its own: temporary files a write-back
// cut short there are found in the copy.
void dropCopiedTemps_(DriveStage& st, const std::string& folder)
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(st.root + folder, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = it->path().lexically_relative(st.root).string();
        if (!it->is_regular_file(ec) || !isImageTemp_(rel)) continue;
        if (!st.disk.readOnly) DiskDelete(st.disk, address_(st, rel));
        fs::remove(it->path(), ec);
    }
}

std::vector<DiskEntry> list_(DriveStage& st, const std::string& folder, bool recursive, int64_t* freeBytes = nullptr)
{
    std::vector<DiskEntry> entries;
    DiskList(st.disk, folder, address_(st, folder), recursive, entries, freeBytes);
    tidy_(st, entries);
    return entries;
}

// Copies the entries into the working copy, each to its path.
void copyOut_(const DriveStage& st, const std::vector<DiskEntry>& entries)
{
    if (!entries.empty()) DiskCopyOut(st.disk, entries, st.root);
}

// The storage folder as a path below the root, from win.ini's "C:\..." text; the default for
// anything else (a host path of an older run, another letter, "..").
std::string storageRelative_(const std::string& winIni)
{
    std::string text;
    if (!winIni.empty()) ProfileReadString("Trelmark", "Kvs-StorageDir", "", text, 1024, winIni);
    if (text.size() < 3 || text[1] != ':' || (text[2] != '\\' && text[2] != '/')) return DEFAULT_STORAGE;
    std::string rel;
    size_t pos = 3;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\\/", pos);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(pos, end - pos);
        if (part == "..") return DEFAULT_STORAGE;
        if (!part.empty() && part != ".") rel = join_(rel, part);
        pos = end + 1;
    }
    return rel.empty() ? DEFAULT_STORAGE : rel;
}

// The stored entry of a folder path below the root, found part by part ignoring case; false
// when some part is missing. entries: the root's, listed already (each mtools run counts).
bool findFolder_(DriveStage& st, const std::string& rel, std::vector<DiskEntry> entries, DiskEntry& found)
{
    std::string cur;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find('/', pos);
        if (end == std::string::npos) end = rel.size();
        if (!cur.empty()) entries = list_(st, cur, false);
        const DiskEntry* e = find_(entries, cur, rel.substr(pos, end - pos), true);
        if (!e) return false;
        found = *e;
        cur = e->path;
        pos = end + 1;
    }
    return !cur.empty();
}

bool isPicture_(const std::string& name)
{
    return endsWith_(name, ".png");
}

// An empty file of the picture's size in its place: the store sees its name and size, and
// StageFetch puts the picture there when it is read.
void placeholder_(DriveStage& st, const DiskEntry& e)
{
    const std::string path = st.root + e.path;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    struct stat sb;
    const bool ok = fd >= 0 && ftruncate(fd, e.size) == 0 && fstat(fd, &sb) == 0;
    if (fd >= 0) close(fd);
    if (!ok) fail_("Couldn't create the file " + path + ".");
    st.placeholders[sb.st_ino] = e.path;
}

void stageStorage_(DriveStage& st, const std::string& winIni, const std::vector<DiskEntry>& rootEntries)
{
    DiskEntry stored;
    stored.path = storageRelative_(winIni);
    stored.folder = true;
    std::vector<DiskEntry> inside;
    try {
        MonBlock([&] { inside = list_(st, stored.path, true); });
    } catch (const EMon&) {
        MonClearError();
        // Not there (no store made yet), or another spelling of a name with a pattern in it.
        if (!findFolder_(st, stored.path, rootEntries, stored)) return;
        inside = list_(st, stored.path, true);
    }
    stored.shortPath = address_(st, stored.path);
    if (!st.lazy) {
        copyOut_(st, {stored});
        return;
    }
    std::error_code ec;
    fs::create_directories(st.root + stored.path, ec);
    std::vector<DiskEntry> eager;
    for (const DiskEntry& e : inside) {
        if (e.folder) fs::create_directories(st.root + e.path, ec);
        else if (parentOf_(e.path) == stored.path && isPicture_(e.path)) placeholder_(st, e);
        else eager.push_back(e);
    }
    if (ec) fail_("Couldn't create the folder " + st.root + stored.path + ".");
    copyOut_(st, eager);
}

void stageFiles_(DriveStage& st)
{
    const std::string win = st.disk.windowsDir;
    st.shortOf[win] = st.disk.windowsShort;
    std::vector<DiskEntry> rootEntries = st.disk.rootEntries, winEntries;
    st.disk.rootEntries.clear();  // only good while nothing was written
    if (rootEntries.empty()) rootEntries = list_(st, "", false);
    else tidy_(st, rootEntries);
    for (const DiskEntry& e : rootEntries)
        if (parentOf_(e.path) == win) winEntries.push_back(e);
    if (winEntries.empty()) winEntries = list_(st, win, false);
    std::vector<DiskEntry> rootFiles, winFiles;
    for (const char* name : ROOT_FILES)
        if (const DiskEntry* f = find_(rootEntries, "", name, false)) rootFiles.push_back(*f);
    std::string winIni;
    for (const char* name : WINDOWS_FILES)
        if (const DiskEntry* f = find_(winEntries, win, name, false)) {
            winFiles.push_back(*f);
            if (strcasecmp(name, "WIN.INI") == 0) winIni = st.root + f->path;
        }
    for (const char* name : WINDOWS_FOLDERS)
        if (const DiskEntry* folder = find_(winEntries, win, name, true)) winFiles.push_back(*folder);
    rootFiles.insert(rootFiles.end(), winFiles.begin(), winFiles.end());
    copyOut_(st, rootFiles);
    dropCopiedTemps_(st, win);
    stageStorage_(st, winIni, rootEntries);
}

StageDigest digest_(const std::string& path)
{
    StageDigest d;
    d.hash = 1469598103934665603ull;
    FILE* f = fopen(path.c_str(), "rbe");
    if (!f) fail_("Couldn't read the file " + path + ".");
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        for (size_t i = 0; i < n; i++) d.hash = (d.hash ^ buf[i]) * 1099511628211ull;
        d.size += static_cast<int64_t>(n);
    }
    const bool bad = ferror(f) != 0;
    fclose(f);
    if (bad) fail_("Couldn't read the file " + path + ".");
    return d;
}

// FAT names ignore case: an image may hold a working file under an upper-case short name.
bool kept_(const DriveStage& st, const std::string& name)
{
    for (const std::string& k : st.keep)
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return true;
    return endsWith_(name, SAFE_TEMP_SUFFIX);
}

// What the working folder holds now. A picture not copied out yet counts as unchanged by its
// size alone; moved gets those the command renamed (new path -> path in the image).
void scan_(const DriveStage& st, std::map<std::string, StageDigest>& files, std::set<std::string>& folders,
           std::map<std::string, std::string>* moved = nullptr)
{
    std::error_code ec;
    const fs::path root(st.root);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink(ec) || kept_(st, it->path().filename().string())) continue;
        if (it->is_directory(ec)) {
            folders.insert(rel);
            continue;
        }
        if (!it->is_regular_file(ec)) continue;
        struct stat sb;
        auto held = lstat(it->path().c_str(), &sb) == 0 ? st.placeholders.find(sb.st_ino) : st.placeholders.end();
        if (held != st.placeholders.end()) {
            files[rel] = StageDigest{sb.st_size, 0};
            if (held->second != rel && moved) (*moved)[rel] = held->second;
        } else {
            files[rel] = digest_(it->path().string());
        }
    }
    if (ec) fail_("Couldn't read the folder " + st.root + ".");
}

// ---- the order of writes ----

// Reads the changes the program noted since the last call: each path keeps the number of its
// last change.
void readJournal_(DriveStage& st)
{
    for (const std::string& noted : JournalTake()) {
        const std::string path = fs::path(noted).lexically_normal().string();
        if (path.size() <= st.root.size() || path.compare(0, st.root.size(), st.root) != 0) continue;
        std::string rel = path.substr(st.root.size());
        while (!rel.empty() && rel.back() == '/') rel.pop_back();
        if (!rel.empty()) st.order[rel] = ++st.events;
    }
}

// A change of the write-back: one file or folder made, written or removed.
struct Change_ {
    enum Kind { MAKE_DIR, WRITE, RENAME, REMOVE, REMOVE_DIR } kind;
    std::string rel;
    std::string from = {};  // RENAME: the path in the image
    int64_t key = 0;
};

// The number that orders rel: its own, else that of the nearest folder above it with one (a
// folder removed with everything in it), else one past every change noted.
int64_t keyOf_(const DriveStage& st, const std::string& rel)
{
    for (std::string p = rel; !p.empty(); p = parentOf_(p)) {
        auto it = st.order.find(p);
        if (it != st.order.end()) return it->second;
    }
    return st.events + 1;
}

// The changes in the order they were made. What was changed other than through the program's own
// file operations (so not noted) comes last, in a fixed order that protects the logos: backups,
// restore lines and pictures before the logo files and the index.
std::vector<Change_> ordered_(const DriveStage& st, std::vector<Change_> changes)
{
    auto fixedRank = [](const std::string& rel) {
        const std::string name = nameOf_(rel);
        for (const char* late : {"headers.dat", "LOGO.SYS", "LOGOW.SYS", "LOGOS.SYS"})
            if (strcasecmp(name.c_str(), late) == 0) return 1;
        return 0;
    };
    for (Change_& c : changes) c.key = keyOf_(st, c.rel);
    // A folder is made before anything in it and removed after.
    for (Change_& c : changes) {
        for (const Change_& inner : changes) {
            if (inner.rel.size() <= c.rel.size() || inner.rel.compare(0, c.rel.size() + 1, c.rel + "/") != 0) continue;
            if (c.kind == Change_::MAKE_DIR) c.key = std::min(c.key, inner.key);
            if (c.kind == Change_::REMOVE_DIR) c.key = std::max(c.key, inner.key);
        }
    }
    std::stable_sort(changes.begin(), changes.end(), [&](const Change_& a, const Change_& b) {
        if (a.key != b.key) return a.key < b.key;
        if ((a.kind == Change_::MAKE_DIR) != (b.kind == Change_::MAKE_DIR)) return a.kind == Change_::MAKE_DIR;
        if ((a.kind == Change_::REMOVE_DIR) != (b.kind == Change_::REMOVE_DIR)) return b.kind == Change_::REMOVE_DIR;
        if (fixedRank(a.rel) != fixedRank(b.rel)) return fixedRank(a.rel) < fixedRank(b.rel);
        if (a.kind == Change_::MAKE_DIR || a.kind == Change_::WRITE || a.kind == Change_::RENAME) return a.rel.size() < b.rel.size() || (a.rel.size() == b.rel.size() && a.rel < b.rel);
        return a.rel.size() > b.rel.size() || (a.rel.size() == b.rel.size() && a.rel > b.rel);
    });
    return changes;
}

// ---- writing ----

// mren (mtools 4.0.32) stops on an assertion, before it changes anything, when it gives a long
// name in a folder whose free entries lie in a certain way. Then the file is copied to its name
// straight from hostFile (the old one replaced) and the temporary entry removed.
void renameOrCopy_(DriveStage& st, const std::string& fromAddress, const std::string& rel, bool existed)
{
    try {
        MonBlock([&] { DiskRename(st.disk, fromAddress, nameOf_(rel)); });
        return;
    } catch (const EMon&) {
        MonClearError();
    }
    int attr = DISK_ATTR_ARCHIVE;
    if (existed) {
        const std::string old = address_(st, rel);
        attr |= DiskGetAttr(st.disk, old);
        if (attr & DISK_ATTR_READONLY) DiskSetAttr(st.disk, old, DISK_ATTR_ARCHIVE);
    }
    DiskCopyIn(st.disk, st.root + rel, address_(st, parentOf_(rel)), nameOf_(rel), true);
    st.shortOf.erase(rel);
    if (attr != DISK_ATTR_ARCHIVE) DiskSetAttr(st.disk, address_(st, rel), attr);
    DiskDelete(st.disk, fromAddress);
}

// Writes one file under a temporary name in its folder, gives it the old file's attributes
// (oldAttr, -1 for a new file) and renames it over the old one, so the image never holds a
// half-written file under the real name.
void writeFile_(DriveStage& st, const std::string& rel, int oldAttr)
{
    const bool existed = oldAttr >= 0;
    const std::string folder = parentOf_(rel), name = nameOf_(rel);
    const std::string folderShort = address_(st, folder);
    const std::string temp = tempName_(name);
    DiskCopyIn(st.disk, st.root + rel, folderShort, temp);
    if (existed && (oldAttr | DISK_ATTR_ARCHIVE) != DISK_ATTR_ARCHIVE)
        DiskSetAttr(st.disk, join_(folderShort, temp), oldAttr | DISK_ATTR_ARCHIVE);
    renameOrCopy_(st, join_(folderShort, temp), rel, existed);
    st.shortOf.erase(rel);  // the new entry's short name is mtools' choice
}

// A picture renamed before it was read is renamed in the image.
void renamePicture_(DriveStage& st, const std::string& from, const std::string& to)
{
    if (parentOf_(from) != parentOf_(to))
        fail_("Couldn't move " + from + " to another folder in the disk image " + st.disk.path + ".");
    try {
        MonBlock([&] { DiskRename(st.disk, address_(st, from), nameOf_(to)); });
    } catch (const EMon&) {
        MonClearError();
        // As in renameOrCopy_: the picture is fetched and written under its new name.
        DiskEntry e;
        e.path = to;
        e.shortPath = address_(st, from);
        DiskCopyOut(st.disk, {e}, st.root);
        DiskCopyIn(st.disk, st.root + to, address_(st, parentOf_(to)), nameOf_(to), true);
        DiskDelete(st.disk, address_(st, from));
        std::erase_if(st.placeholders, [&](const auto& p) { return p.second == from; });
    }
    st.shortOf.erase(from);
    st.shortOf.erase(to);
    for (auto& [ino, rel] : st.placeholders)
        if (rel == from) rel = to;
}

// The bytes the written files and made folders take on the image, whole clusters, plus one
// cluster for each folder that gets new entries.
int64_t need_(const DriveStage& st, const std::vector<Change_>& changes, const std::map<std::string, StageDigest>& files)
{
    const int64_t cluster = std::max<int64_t>(st.disk.clusterBytes, 512);
    std::set<std::string> grown;
    int64_t need = 0;
    for (const Change_& c : changes) {
        if (c.kind == Change_::WRITE) need += (files.at(c.rel).size + cluster - 1) / cluster * cluster;
        if (c.kind == Change_::MAKE_DIR) need += cluster;
        if (c.kind != Change_::REMOVE && c.kind != Change_::REMOVE_DIR) grown.insert(parentOf_(c.rel));
    }
    return need + static_cast<int64_t>(grown.size()) * cluster;
}

std::string kib_(int64_t bytes)
{
    return std::to_string((bytes + 1023) / 1024) + " KB";
}

// Where working folders go: a folder in memory where there is one, as what they hold is thrown
// away after the command and a disk's journal would only slow each file down.
std::string tempBase_()
{
    for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* v = getenv(var);
        if (v && v[0] == '/' && access(v, W_OK | X_OK) == 0) return v;
    }
    return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
}

// A process's start time (field 22 of /proc/PID/stat), which tells it from a later one of that id.
std::string startOf_(pid_t pid)
{
    FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
    if (!f) return std::string();
    char buf[1024];
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    const std::string s(buf, n);
    size_t at = s.rfind(')');
    if (at == std::string::npos) return std::string();
    for (int field = 2; field < 22 && at != std::string::npos; field++) at = s.find(' ', at + 1);
    if (at == std::string::npos) return std::string();
    return s.substr(at + 1, s.find(' ', at + 1) - at - 1);
}

std::string ownerText_(pid_t pid)
{
    return std::to_string(pid) + " " + startOf_(pid) + "\n";
}

// Working folders whose owner process is gone (killed before it could remove them) are removed.
// The name holds the owner's process id, the owner file also its start time, which tells it from a
// later process of that id; a folder without the file yet belongs to a process that still lives.
void dropOrphans_(const std::string& base)
{
    std::error_code ec;
    const std::string prefix = WORK_PREFIX;
    for (const auto& e : fs::directory_iterator(base, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !e.is_directory(ec) || e.is_symlink(ec)) continue;
        const pid_t pid = static_cast<pid_t>(atol(name.c_str() + prefix.size()));
        if (pid <= 0) continue;
        const bool alive = kill(pid, 0) == 0 || errno == EPERM;
        FILE* f = fopen((e.path() / OWNER_FILE).c_str(), "re");
        if (f) {
            char buf[128];
            const size_t n = fread(buf, 1, sizeof buf - 1, f);
            fclose(f);
            if (alive && ownerText_(pid) == std::string(buf, n)) continue;
        } else if (alive) {
            continue;
        }
        fs::remove_all(e.path(), ec);
    }
}

void stageAll_(DriveStage& st)
{
    st.placeholders.clear();
    stageFiles_(st);
    st.files.clear();
    st.folders.clear();
    scan_(st, st.files, st.folders);
    // From here on the program's changes are noted for the order of the write-back.
    JournalKeep(true);
    st.order.clear();
}

}  // namespace

bool StageIsOpen(const DriveStage& stage)
{
    TRACE("DriveStage.StageIsOpen");
    return !stage.work.empty();
}

// Bytes the working copy's files take on the image: each file's size rounded up to clusters.
static int64_t StagedBytes_(const DriveStage& st, int64_t cluster)
{
    int64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(st.root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const int64_t size = static_cast<int64_t>(it->file_size(ec));
        if (!ec) total += (size + cluster - 1) / cluster * cluster;
    }
    return total;
}

// The free space of the image as the working copy would leave it once written back.
static void ProbeSpace_(const DriveStage& st)
{
    int64_t freeBytes = 0, cluster = 0;
    if (!DiskSpace(st.disk, freeBytes, cluster)) return;
    const int64_t before = StagedBytes_(st, cluster);
    const std::string root = st.root;
    SysSetDiskSpaceProbe(root, [root, freeBytes, cluster, before](int64_t& free, int64_t& total) {
        DriveStage view;
        view.root = root;
        free = std::max<int64_t>(0, freeBytes - (StagedBytes_(view, cluster) - before));
        total = free;
        return true;
    });
}

void StageOpen(const std::string& image, int partition, const std::set<std::string>& keep, bool lazy, DriveStage& stage)
{
    TRACE("DriveStage.StageOpen");
    stage = DriveStage();
    stage.keep = keep;
    stage.lazy = lazy;
    stage.keep.insert(OWNER_FILE);
    dropOrphans_(tempBase_());
    std::string pattern = tempBase_() + "/" + WORK_PREFIX + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(pattern.data())) fail_("Couldn't create a working folder in " + tempBase_() + ".");
    stage.work = pattern + "/";
    stage.root = stage.work + "drive/";
    try {
        MonBlock([&] {
            const std::string owner = ownerText_(getpid());
            FILE* f = fopen((stage.work + OWNER_FILE).c_str(), "we");
            const bool ok = f && fwrite(owner.data(), 1, owner.size(), f) == owner.size();
            if (!f || fclose(f) != 0 || !ok) fail_("Couldn't write into the working folder " + stage.work + ".");
            std::error_code ec;
            fs::create_directories(stage.root, ec);
            DiskOpen(image, partition, stage.work, stage.disk);
            fs::create_directories(stage.root + stage.disk.windowsDir, ec);
            stageAll_(stage);
            ProbeSpace_(stage);
        });
    } catch (...) {
        StageClose(stage);
        throw;
    }
}

std::string StageWindowsDir(const DriveStage& stage)
{
    TRACE("DriveStage.StageWindowsDir");
    return stage.root + stage.disk.windowsDir + "/";
}

std::string StageShownName(const DriveStage& stage, const std::string& rel)
{
    TRACE("DriveStage.StageShownName");
    std::string win = "C:\\" + rel;
    std::replace(win.begin(), win.end(), '/', '\\');
    return fs::path(stage.disk.path).filename().string() + ":" + win;
}

void StageFetch(DriveStage& stage, const std::string& hostPath)
{
    TRACE("DriveStage.StageFetch");
    if (stage.placeholders.empty() || hostPath.compare(0, stage.root.size(), stage.root) != 0) return;
    struct stat sb;
    if (lstat(hostPath.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return;
    auto held = stage.placeholders.find(sb.st_ino);
    if (held == stage.placeholders.end()) return;
    MonBlock([&] {
        const std::string inImage = held->second, rel = hostPath.substr(stage.root.size());
        DiskEntry e;
        e.path = rel;
        e.shortPath = address_(stage, inImage);
        DiskCopyOut(stage.disk, {e}, stage.root);
        stage.placeholders.erase(held);
        // What the image holds under that name is what the file now holds.
        if (inImage == rel) stage.files[rel] = digest_(hostPath);
    });
}

int StageWriteBack(DriveStage& stage)
{
    TRACE("DriveStage.StageWriteBack");
    int count = 0;
    MonBlock([&] {
        readJournal_(stage);
        std::map<std::string, StageDigest> files;
        std::set<std::string> folders;
        std::map<std::string, std::string> moved;
        scan_(stage, files, folders, &moved);
        std::set<std::string> movedFrom;
        std::vector<Change_> changes;
        for (const auto& [rel, from] : moved) {
            changes.push_back({Change_::RENAME, rel, from});
            movedFrom.insert(from);
        }
        for (const auto& [rel, d] : files) {
            auto old = stage.files.find(rel);
            if (moved.count(rel)) continue;
            if (old == stage.files.end() || !(old->second == d)) changes.push_back({Change_::WRITE, rel});
        }
        for (const auto& [rel, d] : stage.files)
            if (!files.count(rel) && !movedFrom.count(rel)) changes.push_back({Change_::REMOVE, rel});
        for (const std::string& f : folders)
            if (!stage.folders.count(f)) changes.push_back({Change_::MAKE_DIR, f});
        for (const std::string& f : stage.folders)
            if (!folders.count(f)) changes.push_back({Change_::REMOVE_DIR, f});
        changes = ordered_(stage, std::move(changes));
        stage.order.clear();
        count = static_cast<int>(changes.size());
        if (changes.empty()) return;
        DiskCheckWritable(stage.disk);
        // Room first: a full image or host disk stops the command before it touched the image.
        int64_t freeBytes = DiskFreeBytes(stage.disk);
        if (freeBytes < 0) list_(stage, "", false, &freeBytes);
        const int64_t need = need_(stage, changes, files);
        if (freeBytes >= 0 && need > freeBytes)
            fail_("The disk image " + stage.disk.path + " is full: the change needs " + kib_(need) + ", " + kib_(freeBytes) +
                  " are free. Nothing was written.");
        DiskReserve(stage.disk);
        // The attributes of every file to be replaced, in one run.
        std::vector<std::string> replaced, addresses;
        for (const Change_& c : changes)
            if (c.kind == Change_::WRITE && stage.files.count(c.rel)) {
                replaced.push_back(c.rel);
                addresses.push_back(address_(stage, c.rel));
            }
        const std::vector<int> attrs = DiskGetAttrs(stage.disk, addresses);
        std::map<std::string, int> attrOf;
        for (size_t i = 0; i < replaced.size(); i++) attrOf[replaced[i]] = attrs[i];
        size_t done = 0;
        try {
            MonBlock([&] {
                for (; done < changes.size(); done++) {
                    const Change_& c = changes[done];
                    switch (c.kind) {
                    case Change_::MAKE_DIR:
                        // A folder the image holds already (say, one that was not staged) is used as it is.
                        try {
                            MonBlock([&] { lookup_(stage, c.rel); });
                        } catch (const EMon&) {
                            MonClearError();
                            DiskMakeDir(stage.disk, address_(stage, parentOf_(c.rel)), nameOf_(c.rel));
                        }
                        stage.folders.insert(c.rel);
                        break;
                    case Change_::WRITE:
                        writeFile_(stage, c.rel, attrOf.count(c.rel) ? attrOf[c.rel] : -1);
                        stage.files[c.rel] = files.at(c.rel);
                        break;
                    case Change_::RENAME:
                        renamePicture_(stage, c.from, c.rel);
                        stage.files.erase(c.from);
                        stage.files[c.rel] = files.at(c.rel);
                        break;
                    case Change_::REMOVE:
                        DiskDelete(stage.disk, address_(stage, c.rel));
                        stage.shortOf.erase(c.rel);
                        stage.files.erase(c.rel);
                        std::erase_if(stage.placeholders, [&](const auto& p) { return p.second == c.rel; });
                        break;
                    case Change_::REMOVE_DIR:
                        DiskRemoveDir(stage.disk, address_(stage, c.rel));
                        stage.shortOf.erase(c.rel);
                        stage.folders.erase(c.rel);
                        break;
                    }
                }
            });
        } catch (const std::exception& e) {
            std::string names;
            for (size_t i = done; i < changes.size(); i++)
                names += (i > done ? ", " : "") + StageShownName(stage, changes[i].rel);
            MonClearError();
            fail_(std::string(e.what()) + "\nNot written into the disk image: " + names + ".");
        }
    });
    return count;
}

void StageRelease(DriveStage& stage)
{
    TRACE("DriveStage.StageRelease");
    if (stage.disk.fd < 0) return;
    stage.released = StampOfFd(stage.disk.fd);
    DiskUnlock(stage.disk);
}

bool StageAcquire(DriveStage& stage)
{
    TRACE("DriveStage.StageAcquire");
    if (stage.disk.fd >= 0) return false;
    DiskLock(stage.disk);
    if (StampSame(StampOfFd(stage.disk.fd), stage.released)) return false;
    MonBlock([&] {
        std::error_code ec;
        fs::remove_all(stage.root, ec);
        fs::create_directories(stage.root + stage.disk.windowsDir, ec);
        if (ec) fail_("Couldn't create the folder " + stage.root + ".");
        stage.shortOf.clear();
        stage.shortOf[stage.disk.windowsDir] = stage.disk.windowsShort;
        stageAll_(stage);
    });
    return true;
}

void StageClose(DriveStage& stage)
{
    TRACE("DriveStage.StageClose");
    JournalKeep(false);
    DiskClose(stage.disk);
    SysSetDiskSpaceProbe(std::string(), nullptr);
    if (!stage.work.empty()) {
        std::error_code ec;
        fs::remove_all(stage.work, ec);
    }
    stage = DriveStage();
}
