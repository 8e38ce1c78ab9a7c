// Staging a disk image's Windows drive in a working folder and writing back what changed.
#include "platform/DriveStage.h"

#include "base/Mon.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* DEFAULT_STORAGE = "Program Files/KvsLogos";
const char* const ROOT_FILES[] = {"LOGO.SYS", "MSDOS.SYS", "AUTOEXEC.BAT"};
// Folders of the Windows folder staged whole: the backups and the automatic change's logo sets.
const char* const WINDOWS_FOLDERS[] = {"logos.bak", "KVSROT"};
const char* const WINDOWS_FILES[] = {"WIN.INI", "registry.ini", "LOGOW.SYS", "LOGOS.SYS"};

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

bool isTemp_(const std::string& path)
{
    const std::string suffix = STAGE_TEMP_SUFFIX;
    return path.size() > suffix.size() && strcasecmp(path.c_str() + path.size() - suffix.size(), suffix.c_str()) == 0;
}

// The entry of entries directly in folder named name ignoring case; empty text for none.
std::string find_(const std::vector<DiskEntry>& entries, const std::string& folder, const std::string& name, bool isFolder)
{
    for (const DiskEntry& e : entries)
        if (e.folder == isFolder && strcasecmp(e.path.c_str(), join_(folder, name).c_str()) == 0) return e.path;
    return std::string();
}

// Removes the temporary files a killed write-back left; the file each was to replace is intact.
void dropTemps_(const DriveStage& st, const std::vector<DiskEntry>& entries)
{
    for (const DiskEntry& e : entries)
        if (!e.folder && isTemp_(e.path)) DiskDelete(st.disk, e.path);
}

std::vector<DiskEntry> list_(const DriveStage& st, const std::string& folder, bool recursive)
{
    std::vector<DiskEntry> entries;
    DiskList(st.disk, folder, recursive, entries);
    dropTemps_(st, entries);
    return entries;
}

// Copies the named entries of folder (those present) into the same folder of the working copy.
void copyOut_(const DriveStage& st, const std::vector<std::string>& paths, const std::string& folder)
{
    if (paths.empty()) return;
    std::error_code ec;
    fs::create_directories(st.root + folder, ec);
    if (ec) fail_("Couldn't create the folder " + st.root + folder + ".");
    DiskCopyOut(st.disk, paths, st.root + folder);
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

// The stored spelling of a folder path below the root, found part by part ignoring case; empty
// text when some part is missing. entries: the root's, listed already (each mtools run counts).
std::string findFolder_(const DriveStage& st, const std::string& rel, std::vector<DiskEntry> entries)
{
    std::string cur;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find('/', pos);
        if (end == std::string::npos) end = rel.size();
        if (!cur.empty()) {
            entries.clear();
            DiskList(st.disk, cur, false, entries);
        }
        const std::string found = find_(entries, cur, rel.substr(pos, end - pos), true);
        if (found.empty()) return std::string();
        cur = found;
        pos = end + 1;
    }
    return cur;
}

void stageStorage_(const DriveStage& st, const std::string& winIni, const std::vector<DiskEntry>& rootEntries)
{
    const std::string stored = findFolder_(st, storageRelative_(winIni), rootEntries);
    if (stored.empty()) return;
    list_(st, stored, true);
    copyOut_(st, {stored}, parentOf_(stored));
}

void stageFiles_(DriveStage& st)
{
    const std::string win = st.disk.windowsDir;
    const std::vector<DiskEntry> rootEntries = list_(st, "", false);
    const std::vector<DiskEntry> winEntries = list_(st, win, false);
    std::vector<std::string> rootFiles, winFiles;
    for (const char* name : ROOT_FILES) {
        const std::string f = find_(rootEntries, "", name, false);
        if (!f.empty()) rootFiles.push_back(f);
    }
    std::string winIni;
    for (const char* name : WINDOWS_FILES) {
        const std::string f = find_(winEntries, win, name, false);
        if (!f.empty()) winFiles.push_back(f);
        if (!f.empty() && strcasecmp(name, "WIN.INI") == 0) winIni = st.root + f;
    }
    for (const char* name : WINDOWS_FOLDERS) {
        const std::string folder = find_(winEntries, win, name, true);
        if (folder.empty()) continue;
        list_(st, folder, true);
        winFiles.push_back(folder);
    }
    copyOut_(st, rootFiles, "");
    copyOut_(st, winFiles, win);
    std::error_code ec;
    fs::create_directories(st.root + win, ec);
    stageStorage_(st, winIni, rootEntries);
}

// Whether the image holds a folder that was not staged (a parent of a storage folder not made yet).
bool existsInImage_(const DriveStage& st, const std::string& folder)
{
    std::vector<DiskEntry> entries;
    DiskList(st.disk, parentOf_(folder), false, entries);
    const size_t slash = folder.rfind('/');
    return !find_(entries, parentOf_(folder), slash == std::string::npos ? folder : folder.substr(slash + 1), true).empty();
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
    return false;
}

// What the working folder holds now.
void scan_(const DriveStage& st, std::map<std::string, StageDigest>& files, std::set<std::string>& folders)
{
    std::error_code ec;
    const fs::path root(st.root);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink(ec) || kept_(st, it->path().filename().string())) continue;
        if (it->is_directory(ec)) folders.insert(rel);
        else if (it->is_regular_file(ec)) files[rel] = digest_(it->path().string());
    }
    if (ec) fail_("Couldn't read the folder " + st.root + ".");
}

// Writes one file. A file that replaces another goes under a temporary name in its folder first,
// gets the old file's attributes, and is renamed over the old one, so the image never holds a
// half-written file under the real name. A new file is copied to its name at once: mren would
// upper-case a lower-case short name, and there is no old content to keep.
void writeFile_(const DriveStage& st, const std::string& rel, bool existed)
{
    if (!existed) {
        DiskCopyIn(st.disk, st.root + rel, rel);
        return;
    }
    const std::string temp = rel + STAGE_TEMP_SUFFIX;
    DiskCopyIn(st.disk, st.root + rel, temp);
    const int attr = DiskGetAttr(st.disk, rel) | DISK_ATTR_ARCHIVE;
    if (attr != DISK_ATTR_ARCHIVE) DiskSetAttr(st.disk, temp, attr);
    DiskRename(st.disk, temp, rel);
}

std::string tempBase_()
{
    for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* v = getenv(var);
        if (v && v[0] == '/' && access(v, W_OK | X_OK) == 0) return v;
    }
    return "/tmp";
}

}  // namespace

bool StageIsOpen(const DriveStage& stage)
{
    TRACE("DriveStage.StageIsOpen");
    return stage.disk.fd >= 0;
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

void StageOpen(const std::string& image, int partition, const std::set<std::string>& keep, DriveStage& stage)
{
    TRACE("DriveStage.StageOpen");
    stage = DriveStage();
    stage.keep = keep;
    std::string pattern = tempBase_() + "/kvs-drive-XXXXXX";
    if (!mkdtemp(pattern.data())) fail_("Couldn't create a working folder in " + tempBase_() + ".");
    stage.work = pattern + "/";
    stage.root = stage.work + "drive/";
    try {
        MonBlock([&] {
            DiskOpen(image, partition, stage.work, stage.disk);
            stageFiles_(stage);
            scan_(stage, stage.files, stage.folders);
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

int StageWriteBack(DriveStage& stage)
{
    TRACE("DriveStage.StageWriteBack");
    int changes = 0;
    MonBlock([&] {
        std::map<std::string, StageDigest> files;
        std::set<std::string> folders;
        scan_(stage, files, folders);
        std::vector<std::string> written, deleted, madeDirs, removedDirs;
        for (const auto& [rel, d] : files) {
            auto old = stage.files.find(rel);
            if (old == stage.files.end() || !(old->second == d)) written.push_back(rel);
        }
        for (const auto& [rel, d] : stage.files)
            if (!files.count(rel)) deleted.push_back(rel);
        for (const std::string& f : folders)
            if (!stage.folders.count(f)) madeDirs.push_back(f);  // set order: parents first
        for (const std::string& f : stage.folders)
            if (!folders.count(f)) removedDirs.push_back(f);
        std::reverse(removedDirs.begin(), removedDirs.end());  // children first
        changes = static_cast<int>(written.size() + deleted.size() + madeDirs.size() + removedDirs.size());
        if (changes == 0) return;
        DiskCheckWritable(stage.disk);
        for (const std::string& f : madeDirs)
            if (!existsInImage_(stage, f)) DiskMakeDir(stage.disk, f);
        for (const std::string& f : written) writeFile_(stage, f, stage.files.count(f) != 0);
        for (const std::string& f : deleted) DiskDelete(stage.disk, f);
        for (const std::string& f : removedDirs) DiskRemoveDir(stage.disk, f);
        stage.files = std::move(files);
        stage.folders = std::move(folders);
    });
    return changes;
}

void StageClose(DriveStage& stage)
{
    TRACE("DriveStage.StageClose");
    DiskClose(stage.disk);
    SysSetDiskSpaceProbe(std::string(), nullptr);
    if (!stage.work.empty()) {
        std::error_code ec;
        fs::remove_all(stage.work, ec);
    }
    stage = DriveStage();
}
