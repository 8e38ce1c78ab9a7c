// Disk images: containers, partitions, locks and the mtools programs.
#include "platform/DiskImage.h"

#include <cctype>
#include <cstdint>

#include "base/Bytes.h"
#include "base/Mon.h"
#include "platform/FatRead.h"
#include "platform/FileLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

constexpr int SECTOR = 512;
// Seconds to wait for another instance of this program to finish with the image.
constexpr int LOCK_WAIT_SECONDS = 10;

[[noreturn]] void fail_(const std::string& text)
{
    MonErrorMsg(DISK_ERROR_CLASS, text, __LINE__);
    throw EMon(text);  // MonErrorMsg throws inside a block; this keeps the compiler informed
}


bool readAt_(int fd, int64_t offset, unsigned char* buf, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool isFatType_(unsigned t)
{
    switch (t) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E:
    case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E: return true;
    default: return false;
    }
}

// The name of a container this program cannot read, from its first sector (zero-filled past the
// end of a small file) and its last; empty for none.

struct Candidate_ {
    int partition;
    int64_t offset;
};

// The FAT file systems of the data area: the whole area, or the FAT partitions of its MBR.
std::vector<Candidate_> candidates_(int fd, int64_t dataSize, int& kind)
{
    unsigned char b[SECTOR];
    std::vector<Candidate_> out;
    if (!readAt_(fd, 0, b, SECTOR)) return out;
    if (FatIsBootSector(b)) {
        kind = DISK_BARE_FAT;
        out.push_back({0, 0});
        return out;
    }
    if (b[510] != 0x55 || b[511] != 0xAA) return out;
    kind = DISK_RAW_MBR;
    for (int i = 0; i < 4; i++) {
        const unsigned char* e = b + 446 + 16 * i;
        const int64_t start = static_cast<int64_t>(BytesGetLE32(e + 8)) * SECTOR;
        if (!isFatType_(e[4]) || start <= 0 || start + SECTOR > dataSize) continue;
        unsigned char boot[SECTOR];
        if (readAt_(fd, start, boot, SECTOR) && FatIsBootSector(boot)) out.push_back({i + 1, start});
    }
    return out;
}

void writeConfig_(DiskImage& d)
{
    // This program holds the image's locks itself; mtools' own would clash with them.
    std::string text = "MTOOLS_SKIP_CHECK=1\nMTOOLS_TWENTY_FOUR_HOUR_CLOCK=1\nMTOOLS_DATE_STRING=\"yyyy-mm-dd\"\n"
                       "drive k: file=\"" + d.path + "\" offset=" + std::to_string(d.offset) + " nolock\n";
    const std::string tmp = d.toolConfig + ".new";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), d.toolConfig.c_str()) != 0) fail_("Couldn't write the file " + d.toolConfig + ".");
}

std::string target_(const std::string& shortPath)
{
    return "k:/" + shortPath;
}

std::string join_(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

std::vector<std::string> toolEnv_(const DiskImage& d)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; e++)
        if (strncmp(*e, "MTOOLS", 6) != 0) env.push_back(*e);
    env.push_back("MTOOLSRC=" + d.toolConfig);
    return env;
}

// The whole of a file the tool wrote, then the file is gone.
std::string takeOutput_(const std::string& path)
{
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[8192];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0) text.append(buf, static_cast<size_t>(n));
        close(fd);
    }
    unlink(path.c_str());
    return text;
}

// Runs an mtools program on the image (no shell, standard input empty); false when it could
// not start or did not exit with 0. err gets what it wrote to standard error. The tool writes
// into files, not pipes, so that a write-back goes on to its end when this program is killed;
// it is spawned without copying this (large) process.
bool tool_(const DiskImage& d, const std::vector<std::string>& args, std::string& out, std::string& err)
{
    std::vector<std::string> env = toolEnv_(d);
    std::vector<std::string> all = args;
    std::vector<char*> argv, envp;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string folder = d.toolConfig.substr(0, d.toolConfig.rfind('/') + 1);
    const std::string outPath = folder + "tool.out", errPath = folder + "tool.err";
    posix_spawn_file_actions_t acts;
    posix_spawn_file_actions_init(&acts);
    posix_spawn_file_actions_addopen(&acts, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&acts, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&acts, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &acts, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acts);
    if (spawned != 0) {
        if (spawned == ENOENT) err = args[0] + " (mtools) is not installed";
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    out = takeOutput_(outPath);
    err = takeOutput_(errPath);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && err.empty()) err = args[0] + " (mtools) is not installed";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string firstLine_(const std::string& s)
{
    std::string line = s.substr(0, s.find('\n'));
    return line.empty() ? std::string() : " (" + line + ")";
}

// Runs the tool; a failure is an error naming what was done.
void must_(const DiskImage& d, const std::vector<std::string>& args, const std::string& what, std::string* out = nullptr)
{
    std::string o, err;
    if (!tool_(d, args, o, err)) fail_("Couldn't " + what + " in the disk image " + d.path + firstLine_(err) + ".");
    if (out) *out = o;
}

bool sameText_(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Raises for a folder below more folders than a Windows path (260 characters) can name: a
// damaged file system whose folder points back at one above it, which would be walked without end.
void refuseTooDeep_(const DiskImage& d, const std::string& path)
{
    if (std::count(path.begin(), path.end(), '/') <= 128) return;
    size_t cut = 0;
    for (int parts = 0; parts < 3 && cut != std::string::npos; parts++) cut = path.find('/', cut + 1);
    fail_("The disk image " + d.path + " is damaged: a folder in " + path.substr(0, cut) +
          " leads back to a folder above it. Check the image with fsck.fat or Windows' ScanDisk.");
}

// The file system of the open image, read in this process.
FatVolume volume_(const DiskImage& d)
{
    FatVolume v;
    if (d.fd < 0 || !FatOpen(d.fd, d.offset, d.end, v)) fail_("Couldn't read the file system of the disk image " + d.path + ".");
    return v;
}

DiskEntry entryOf_(const FatItem& item, const std::string& folder, const std::string& folderShort)
{
    DiskEntry e;
    e.path = join_(folder, item.name);
    e.shortPath = join_(folderShort, item.shortName);
    e.folder = (item.attr & FAT_ATTR_FOLDER) != 0;
    e.size = item.size;
    return e;
}

// The entries of a folder into out, with those of every folder below it when recursive.
void listInto_(const DiskImage& d, FatVolume& v, const FatItem& folder, const std::string& path, const std::string& pathShort,
               bool recursive, std::vector<DiskEntry>& out)
{
    std::vector<FatItem> items;
    refuseTooDeep_(d, path);
    if (!FatList(v, folder, items))
        fail_("Couldn't list the folder " + (path.empty() ? std::string("\\") : path) + " in the disk image " + d.path + ".");
    const size_t first = out.size();
    for (const FatItem& item : items) out.push_back(entryOf_(item, path, pathShort));
    if (!recursive) return;
    for (size_t i = 0; i < items.size(); i++)
        if (items[i].attr & FAT_ATTR_FOLDER) {
            const DiskEntry e = out[first + i];
            listInto_(d, v, items[i], e.path, e.shortPath, true, out);
        }
}

// The Windows folder of the root at the configured offset, with its short name; false for none.
// rootEntries gets the root's entries and the Windows folder's.
bool windowsFolder_(DiskImage& d)
{
    FatVolume v;
    std::vector<FatItem> root;
    if (!FatOpen(d.fd, d.offset, d.end, v) || !FatList(v, FatRoot(v), root)) return false;
    d.rootEntries.clear();
    for (const FatItem& item : root) d.rootEntries.push_back(entryOf_(item, "", ""));
    for (const FatItem& item : root)
        if ((item.attr & FAT_ATTR_FOLDER) && sameText_(item.name, "WINDOWS")) {
            d.windowsDir = item.name;
            d.windowsShort = item.shortName;
            std::vector<FatItem> inside;
            if (FatList(v, item, inside))
                for (const FatItem& e : inside) d.rootEntries.push_back(entryOf_(e, d.windowsDir, d.windowsShort));
            return true;
        }
    return false;
}

void choose_(DiskImage& d, const std::vector<Candidate_>& found, int partition)
{
    for (const Candidate_& c : found) {
        if (partition > 0 && c.partition != partition) continue;
        d.partition = c.partition;
        d.offset = c.offset;
        unsigned char boot[SECTOR];
        if (readAt_(d.fd, c.offset, boot, SECTOR)) d.clusterBytes = static_cast<int64_t>(BytesGetLE16(boot + 11)) * boot[13];
        writeConfig_(d);
        if (windowsFolder_(d)) return;
        if (partition > 0) fail_("Partition " + std::to_string(partition) + " of the disk image " + d.path + " holds no WINDOWS folder.");
    }
    if (partition > 0) fail_("The disk image " + d.path + " has no FAT partition " + std::to_string(partition) + ".");
    if (d.kind == DISK_RAW_MBR && found.empty()) fail_("The disk image " + d.path + " has no FAT partition.");
    fail_("No FAT file system in the disk image " + d.path + " holds a WINDOWS folder.");
}

void recognise_(DiskImage& d, int partition)
{
    struct stat st;
    if (fstat(d.fd, &st) != 0) fail_("Couldn't read the disk image " + d.path + ".");
    unsigned char first[SECTOR] = {}, footer[SECTOR] = {};
    // A descriptor file is smaller than a sector and still gets the conversion text.
    const size_t head = static_cast<size_t>(std::min<int64_t>(st.st_size, SECTOR));
    if (!readAt_(d.fd, 0, first, head) || (st.st_size >= SECTOR && !readAt_(d.fd, st.st_size - SECTOR, footer, SECTOR)))
        fail_("Couldn't read the disk image " + d.path + ".");
    const std::string foreign = DiskForeignKind(first, footer, st.st_size);
    if (!foreign.empty()) fail_("The disk image " + d.path + " is a " + foreign + " file." + DISK_CONVERT_HINT);
    if (st.st_size < 2 * SECTOR) fail_("The file " + d.path + " is not a disk image (too small).");
    int64_t dataSize = st.st_size;
    if (memcmp(footer, "conectix", 8) == 0) dataSize -= SECTOR;
    d.end = dataSize;
    std::vector<Candidate_> found = candidates_(d.fd, dataSize, d.kind);
    if (d.kind == 0)
        fail_("The file " + d.path + " is not a disk image: it holds neither a FAT file system nor an MBR partition table.");
    if (dataSize != st.st_size) d.kind = DISK_VHD_FIXED;
    choose_(d, found, partition);
}

// Whether another open file description holds a lock on any byte of the image.
bool lockedByOther_(int fd)
{
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

// QEMU marks each permission it uses with a shared lock on byte 100 + bit and each one it does
// not share with byte 200 + bit, and tests both ranges before it opens an image. Holding them
// all says: this program uses everything and shares nothing, so a QEMU started meanwhile refuses.
constexpr int QEMU_PERM_BASE = 100;
constexpr int QEMU_SHARED_BASE = 200;
constexpr int QEMU_PERM_BITS = 8;

bool emulatorLocks_(int fd)
{
    for (int base : {QEMU_PERM_BASE, QEMU_SHARED_BASE}) {
        struct flock fl;
        memset(&fl, 0, sizeof fl);
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = base;
        fl.l_len = QEMU_PERM_BITS;
        if (fcntl(fd, F_OFD_SETLK, &fl) != 0) return false;
    }
    return true;
}

std::string absolute_(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string r(real);
    free(real);
    return r;
}

std::string readSmall_(const std::string& path)
{
    std::string text;
    FILE* f = fopen(path.c_str(), "re");
    if (!f) return text;
    char buf[512];
    const size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    return std::string(buf, n);
}

bool ownProgram_(const std::string& name)
{
    return name == "kvs" || name.rfind("kelvane-studio", 0) == 0;
}

struct Holder_ {
    pid_t pid = 0;
    std::string name;
};

// Other processes that have the image open: their ids and program names (/proc/PID/comm).
// Whether no other open of the image exists anywhere, which spares looking through /proc: the
// kernel grants a write lease only then. The lease is given back at once; should an opener break
// it meanwhile, the signal that tells is one ignored by default. False where leases are refused
// (another file system, another owner): then /proc is looked through.
bool aloneOnImage_(int fd)
{
    if (fcntl(fd, F_SETSIG, SIGURG) != 0 || fcntl(fd, F_SETLEASE, F_WRLCK) != 0) return false;
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
}

// The other processes that have the image open: the file's identity decides, whatever name they
// opened it by.
std::vector<Holder_> holders_(int fd)
{
    std::vector<Holder_> found;
    struct stat img;
    if (fstat(fd, &img) != 0) return found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    const pid_t self = getpid();
    while (dirent* p = readdir(proc)) {
        if (p->d_name[0] < '0' || p->d_name[0] > '9') continue;
        const pid_t pid = static_cast<pid_t>(atol(p->d_name));
        if (pid == self) continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        bool holds = false;
        while (dirent* f = readdir(fds)) {
            // Pipes, sockets and the like link to no path: only files are looked at further.
            char link[2];
            struct stat st;
            if (f->d_name[0] == '.' || readlinkat(dirfd(fds), f->d_name, link, sizeof link) < 1 || link[0] != '/') continue;
            if (fstatat(dirfd(fds), f->d_name, &st, 0) != 0) continue;
            if (st.st_dev == img.st_dev && st.st_ino == img.st_ino) holds = true;
        }
        closedir(fds);
        if (!holds) continue;
        std::string comm = readSmall_(std::string("/proc/") + p->d_name + "/comm");
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == ' ')) comm.pop_back();
        found.push_back({pid, comm});
    }
    closedir(proc);
    return found;
}

std::string inUseBy_(const Holder_& h)
{
    const std::string who = ownProgram_(h.name) ? "Kelvane Studio" : h.name.empty() ? "another program" : h.name;
    return "The disk image is in use by " + who + " (process " + std::to_string(h.pid) + ")." +
           (ownProgram_(h.name) ? " Wait for it to finish." : " Shut the emulator down first.");
}

// The in-use text, naming the program that holds the image when it can be found.
std::string inUseText_(int fd)
{
    for (const Holder_& h : holders_(fd))
        if (!ownProgram_(h.name)) return inUseBy_(h);
    return DISK_IN_USE_TEXT;
}

void openLocked_(DiskImage& disk)
{
    disk.fd = open(disk.path.c_str(), disk.readOnly ? O_RDONLY | O_CLOEXEC : O_RDWR | O_CLOEXEC);
    if (disk.fd < 0 && !disk.readOnly && (errno == EACCES || errno == EROFS)) {
        disk.fd = open(disk.path.c_str(), O_RDONLY | O_CLOEXEC);
        disk.readOnly = true;
    }
    if (disk.fd < 0) fail_("Couldn't open the disk image " + disk.path + " (" + strerror(errno) + ").");
    // The same file lock as the store's: another of our programs waited for, anyone else refused.
    if (FileLockWait(disk.fd, LOCK_EX, LOCK_WAIT_SECONDS * 1000) != FILE_LOCK_HELD) {
        for (const Holder_& h : holders_(disk.fd))
            if (ownProgram_(h.name)) fail_(inUseBy_(h));
        fail_(DISK_IN_USE_TEXT);
    }
    if (lockedByOther_(disk.fd) || !emulatorLocks_(disk.fd)) fail_(inUseText_(disk.fd));
}

// Copies a file, or a folder with everything in it, to hostRoot + path.
void copyItem_(const DiskImage& d, FatVolume& v, const FatItem& item, const std::string& path, const std::string& hostRoot,
               const std::string& scratch)
{
    const std::string to = hostRoot + path;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ec);
    const int64_t modified = FatModified(item);
    const timespec times[2] = {{modified, 0}, {modified, 0}};
    if (item.attr & FAT_ATTR_FOLDER) {
        std::filesystem::create_directories(to, ec);
        std::vector<FatItem> inside;
        refuseTooDeep_(d, path);
        if (ec || !FatList(v, item, inside)) fail_("Couldn't read " + path + " from the disk image " + d.path + ".");
        for (const FatItem& e : inside) copyItem_(d, v, e, join_(path, e.name), hostRoot, scratch);
        utimensat(AT_FDCWD, to.c_str(), times, 0);
        return;
    }
    const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    bool ok = fd >= 0 && FatCopyFile(v, item, fd);
    if (fd >= 0) {
        futimens(fd, times);
        ok = close(fd) == 0 && ok;
    }
    if (!ok || rename(scratch.c_str(), to.c_str()) != 0) {
        unlink(scratch.c_str());
        fail_("Couldn't read " + path + " from the disk image " + d.path + ".");
    }
}

}  // namespace

std::string DiskForeignKind(const unsigned char* first, const unsigned char* footer, int64_t size)
{
    TRACE("DiskImage.DiskForeignKind");
    if (memcmp(first, "QFI\xfb", 4) == 0) return "QCOW2";
    if (memcmp(first, "QED\0", 4) == 0) return "QED";
    if (memcmp(first, "vhdxfile", 8) == 0) return "VHDX";
    if (memcmp(first, "WithoutFreeSpace", 16) == 0 || memcmp(first, "WithouFreSpacExt", 16) == 0) return "Parallels";
    if (memcmp(first, "KDMV", 4) == 0 || memcmp(first, "COWD", 4) == 0) return "VMDK";
    const std::string head(reinterpret_cast<const char*>(first), SECTOR);
    if (head.find("# Disk DescriptorFile") != std::string::npos) return "VMDK descriptor";
    if (BytesGetLE32(first + 64) == 0xBEDA107F) return "VDI";
    if (memcmp(first, "conectix", 8) == 0) return "dynamic VHD";
    if (size >= 2 * SECTOR && memcmp(footer, "conectix", 8) == 0 && BytesGetBE32(footer + 60) != 2) return "dynamic VHD";
    return std::string();
}

bool DiskIsImageFile(const std::string& path)
{
    TRACE("DiskImage.DiskIsImageFile");
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void DiskOpen(const std::string& path, int partition, const std::string& workDir, DiskImage& disk)
{
    TRACE("DiskImage.DiskOpen");
    try {
      MonBlock([&] {
        disk = DiskImage();
        disk.path = absolute_(path);
        if (disk.path.find_first_of("\"\n") != std::string::npos)
            fail_("The name of the disk image " + path + " holds a character mtools cannot take.");
        disk.toolConfig = workDir + "mtools.conf";
        openLocked_(disk);
        recognise_(disk, partition);
      });
    } catch (...) {
        DiskClose(disk);
        throw;
    }
}

void DiskLock(DiskImage& disk)
{
    TRACE("DiskImage.DiskLock");
    if (disk.fd >= 0) return;
    try {
        MonBlock([&] { openLocked_(disk); });
    } catch (...) {
        DiskUnlock(disk);
        throw;
    }
}

void DiskUnlock(DiskImage& disk)
{
    TRACE("DiskImage.DiskUnlock");
    if (disk.fd >= 0) close(disk.fd);  // also drops the flock and the byte-range locks
    disk.fd = -1;
}

void DiskClose(DiskImage& disk)
{
    TRACE("DiskImage.DiskClose");
    DiskUnlock(disk);
}

void DiskCheckWritable(const DiskImage& disk)
{
    TRACE("DiskImage.DiskCheckWritable");
    if (disk.fd < 0) {
        MonErrorMsg(DISK_ERROR_CLASS, DISK_IN_USE_TEXT, __LINE__);
        return;
    }
    if (lockedByOther_(disk.fd)) {
        MonErrorMsg(DISK_ERROR_CLASS, inUseText_(disk.fd), __LINE__);
        return;
    }
    if (aloneOnImage_(disk.fd)) return;
    // Another instance waiting for the lock has the file open too, and writes nothing without it.
    for (const Holder_& h : holders_(disk.fd))
        if (!ownProgram_(h.name)) {
            MonErrorMsg(DISK_ERROR_CLASS, inUseBy_(h), __LINE__);
            return;
        }
    if (disk.readOnly) MonErrorMsg(DISK_ERROR_CLASS, "The disk image " + disk.path + " is read-only.", __LINE__);
}

void DiskReserve(const DiskImage& disk)
{
    TRACE("DiskImage.DiskReserve");
    struct stat st;
    if (disk.fd < 0 || fstat(disk.fd, &st) != 0) fail_("Couldn't read the disk image " + disk.path + ".");
    // A file without holes needs nothing; its blocks cover its size.
    if (st.st_blocks * 512 >= st.st_size) return;
    const int rc = posix_fallocate(disk.fd, 0, st.st_size);
    if (rc != 0)
        fail_("The disk holding the disk image " + disk.path + " has no room for it (" + strerror(rc) +
              "); nothing was written. Free some space first.");
}

void DiskList(const DiskImage& disk, const std::string& folder, const std::string& folderShort, bool recursive,
              std::vector<DiskEntry>& out, int64_t* freeBytes)
{
    TRACE("DiskImage.DiskList");
    MonBlock([&] {
        FatVolume v = volume_(disk);
        FatItem item;
        if (!FatFind(v, folderShort, item) || !(item.attr & FAT_ATTR_FOLDER))
            fail_("Couldn't list the folder " + (folder.empty() ? std::string("\\") : folder) + " in the disk image " + disk.path + ".");
        listInto_(disk, v, item, folder, folderShort, recursive, out);
        if (freeBytes) {
            const int64_t clusters = FatFreeClusters(v, true);
            *freeBytes = clusters < 0 ? -1 : clusters * v.clusterBytes;
        }
    });
}

bool DiskSpace(const DiskImage& disk, int64_t& freeBytes, int64_t& clusterBytes)
{
    TRACE("DiskImage.DiskSpace");
    freeBytes = DiskFreeBytes(disk);
    clusterBytes = disk.clusterBytes;
    return freeBytes >= 0 && clusterBytes > 0;
}

void DiskCopyOut(const DiskImage& disk, const std::vector<DiskEntry>& entries, const std::string& hostRoot)
{
    TRACE("DiskImage.DiskCopyOut");
    MonBlock([&] {
        FatVolume v = volume_(disk);
        // Each file is written beside the drive's folder and then renamed to its place, so that
        // the drive only ever shows it whole.
        const std::string scratch = disk.toolConfig.substr(0, disk.toolConfig.rfind('/') + 1) + "copy.part";
        for (const DiskEntry& e : entries) {
            FatItem item;
            if (!FatFind(v, e.shortPath, item)) fail_("Couldn't read " + e.path + " from the disk image " + disk.path + ".");
            copyItem_(disk, v, item, e.path, hostRoot, scratch);
        }
    });
}

void DiskCopyIn(const DiskImage& disk, const std::string& hostFile, const std::string& folderShort, const std::string& name,
                bool replace)
{
    TRACE("DiskImage.DiskCopyIn");
    MonBlock([&] {
        std::vector<std::string> args = {"mcopy", "-m", hostFile, target_(join_(folderShort, name))};
        if (replace) args.insert(args.begin() + 1, "-o");
        must_(disk, args, "write " + name);
    });
}

void DiskRename(const DiskImage& disk, const std::string& fromShort, const std::string& name)
{
    TRACE("DiskImage.DiskRename");
    const size_t slash = fromShort.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : fromShort.substr(0, slash);
    MonBlock([&] { must_(disk, {"mren", "-D", "o", target_(fromShort), target_(join_(folder, name))}, "rename " + fromShort); });
}

void DiskDelete(const DiskImage& disk, const std::string& shortPath)
{
    TRACE("DiskImage.DiskDelete");
    MonBlock([&] { must_(disk, {"mdel", target_(shortPath)}, "delete " + shortPath); });
}

void DiskMakeDir(const DiskImage& disk, const std::string& folderShort, const std::string& name)
{
    TRACE("DiskImage.DiskMakeDir");
    MonBlock([&] { must_(disk, {"mmd", target_(join_(folderShort, name))}, "make the folder " + name); });
}

void DiskRemoveDir(const DiskImage& disk, const std::string& shortPath)
{
    TRACE("DiskImage.DiskRemoveDir");
    MonBlock([&] { must_(disk, {"mrd", target_(shortPath)}, "remove the folder " + shortPath); });
}

int DiskGetAttr(const DiskImage& disk, const std::string& shortPath)
{
    TRACE("DiskImage.DiskGetAttr");
    return DiskGetAttrs(disk, {shortPath})[0];
}

std::vector<int> DiskGetAttrs(const DiskImage& disk, const std::vector<std::string>& shortPaths)
{
    TRACE("DiskImage.DiskGetAttrs");
    std::vector<int> attrs;
    if (shortPaths.empty()) return attrs;
    MonBlock([&] {
        FatVolume v = volume_(disk);
        for (const std::string& p : shortPaths) {
            FatItem item;
            if (!FatFind(v, p, item) || item.root)
                fail_("Couldn't read the attributes of " + p + " in the disk image " + disk.path + ".");
            attrs.push_back(item.attr & (DISK_ATTR_READONLY | DISK_ATTR_HIDDEN | DISK_ATTR_SYSTEM | DISK_ATTR_ARCHIVE));
        }
    });
    return attrs;
}

int64_t DiskFreeBytes(const DiskImage& disk)
{
    TRACE("DiskImage.DiskFreeBytes");
    FatVolume v;
    if (disk.fd < 0 || !FatOpen(disk.fd, disk.offset, disk.end, v)) return -1;
    const int64_t clusters = FatFreeClusters(v, false);
    return clusters < 0 ? -1 : clusters * v.clusterBytes;
}

void DiskSetAttr(const DiskImage& disk, const std::string& shortPath, int attr)
{
    TRACE("DiskImage.DiskSetAttr");
    auto flag = [attr](int bit, const char* on, const char* off) { return std::string((attr & bit) ? on : off); };
    MonBlock([&] {
        must_(disk, {"mattrib", flag(DISK_ATTR_ARCHIVE, "+a", "-a"), flag(DISK_ATTR_SYSTEM, "+s", "-s"),
                     flag(DISK_ATTR_HIDDEN, "+h", "-h"), flag(DISK_ATTR_READONLY, "+r", "-r"), target_(shortPath)},
              "set the attributes of " + shortPath);
    });
}
