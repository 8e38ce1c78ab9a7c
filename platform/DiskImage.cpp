// Disk images: containers, partitions, locks and the mtools programs.
#include "platform/DiskImage.h"

#include <cctype>
#include <cstdint>

#include "base/Bytes.h"
#include "base/Mon.h"
#include "platform/FileLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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
constexpr const char* CONVERT_HINT =
    " Kelvane Studio reads raw disk images and fixed-size VHD files only; convert it first, for "
    "example: qemu-img convert -O raw IMAGE drive.img";

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

// A FAT boot sector: jump, a power-of-two sector size and cluster size, reserved sectors, FATs.
bool isFatBoot_(const unsigned char* b)
{
    if (b[0] != 0xEB && b[0] != 0xE9) return false;
    if (b[510] != 0x55 || b[511] != 0xAA) return false;
    const unsigned bps = BytesGetLE16(b + 11);
    const unsigned spc = b[13];
    const unsigned reserved = BytesGetLE16(b + 14);
    if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
    if (spc == 0 || (spc & (spc - 1)) != 0) return false;
    return reserved > 0 && b[16] >= 1 && b[16] <= 2;
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
std::string foreignContainer_(const unsigned char* first, const unsigned char* footer, int64_t size)
{
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
    if (isFatBoot_(b)) {
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
        if (readAt_(fd, start, boot, SECTOR) && isFatBoot_(boot)) out.push_back({i + 1, start});
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

// Drains both pipes of a child until they close.
void drain_(int outFd, int errFd, std::string& out, std::string& err)
{
    pollfd p[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    char buf[8192];
    while (open > 0) {
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                p[i].fd = -1;
                open--;
            } else {
                (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
            }
        }
    }
}

std::vector<std::string> toolEnv_(const DiskImage& d)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; e++)
        if (strncmp(*e, "MTOOLS", 6) != 0) env.push_back(*e);
    env.push_back("MTOOLSRC=" + d.toolConfig);
    return env;
}

// Runs an mtools program on the image (no shell, standard input empty); false when it could
// not start or did not exit with 0. err gets what it wrote to standard error.
bool tool_(const DiskImage& d, const std::vector<std::string>& args, std::string& out, std::string& err)
{
    std::vector<std::string> env = toolEnv_(d);
    std::vector<std::string> all = args;
    std::vector<char*> argv, envp;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int o[2], e[2];
    if (pipe2(o, O_CLOEXEC) != 0) return false;
    if (pipe2(e, O_CLOEXEC) != 0) {
        close(o[0]);
        close(o[1]);
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // A write-back goes on when this program is killed and its pipes close.
        signal(SIGPIPE, SIG_IGN);
        int nul = open("/dev/null", O_RDONLY);
        if (nul >= 0) dup2(nul, 0);
        dup2(o[1], 1);
        dup2(e[1], 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(o[1]);
    close(e[1]);
    if (pid > 0) drain_(o[0], e[0], out, err);
    close(o[0]);
    close(e[0]);
    if (pid < 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
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

bool isDigit_(char c)
{
    return c >= '0' && c <= '9';
}

// Where "yyyy-mm-dd  hh:mm" starts in an mdir line, npos for none.
size_t stampAt_(const std::string& line)
{
    static const char shape[] = "dddd-dd-dd  dd:dd";
    const size_t n = sizeof shape - 1;
    for (size_t at = 12; at + n <= line.size(); at++) {
        size_t i = 0;
        for (; i < n; i++)
            if (shape[i] == 'd' ? !isDigit_(line[at + i]) : line[at + i] != shape[i]) break;
        if (i == n) return at;
    }
    return std::string::npos;
}

std::string trimmed_(const std::string& s)
{
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// One entry line of mdir's long listing:
//   "NAME     EXT      size yyyy-mm-dd  hh:mm  long name" or "NAME         <DIR>     yyyy-...".
// False for every other line (headers, totals, "." and "..").
bool entryLine_(const std::string& line, std::string& shortName, std::string& longName, bool& folder, int64_t& size)
{
    if (line.size() < 13 || line[0] == ' ' || line.compare(0, 14, "Directory for ") == 0) return false;
    const size_t stamp = stampAt_(line);
    if (stamp == std::string::npos) return false;
    const std::string base = trimmed_(line.substr(0, 8)), ext = trimmed_(line.substr(9, 3));
    if (base.empty() || base == "." || base == "..") return false;
    shortName = ext.empty() ? base : base + "." + ext;
    const std::string middle = trimmed_(line.substr(12, stamp - 12));
    folder = middle == "<DIR>";
    size = 0;
    if (!folder) {
        for (char c : middle)
            if (isDigit_(c)) size = size * 10 + (c - '0');
    }
    const size_t after = stamp + 17;
    longName = line.size() > after + 2 ? line.substr(after + 2) : shortName;
    while (!longName.empty() && longName.back() == ' ') longName.pop_back();
    return !longName.empty();
}

int64_t freeBytes_(const std::string& line)
{
    const size_t at = line.find(" bytes free");
    if (at == std::string::npos) return -1;
    int64_t v = 0;
    for (size_t i = 0; i < at; i++)
        if (isDigit_(line[i])) v = v * 10 + (line[i] - '0');
    return v;
}

// The displayed folder of a "Directory for k:/..." line, without the drive and leading '/'.
std::string headerFolder_(const std::string& line)
{
    std::string p = line.substr(14);
    const size_t colon = p.find(':');
    if (colon != std::string::npos && colon < 3) p = p.substr(colon + 1);
    while (!p.empty() && p.front() == '/') p.erase(0, 1);
    while (!p.empty() && p.back() == '/') p.pop_back();
    return p;
}

bool sameText_(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string lastName_(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Parses mdir's long listing of folder (long and short path) into out. A folder below it is
// known by whichever of its names mdir shows in its heading.
void parseListing_(const std::string& text, const std::string& folder, const std::string& folderShort,
                   std::vector<DiskEntry>& out, int64_t* freeBytes)
{
    std::vector<std::pair<std::string, std::string>> shownFolders;  // shown path, index into out as text
    std::string curLong = folder, curShort = folderShort, shownBase;
    bool first = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 14, "Directory for ") == 0) {
            const std::string shown = headerFolder_(line);
            if (first) {
                shownBase = shown;
                first = false;
                continue;
            }
            curLong.clear();
            for (const DiskEntry& e : out) {
                if (!e.folder) continue;
                const std::string rel = e.path.substr(folder.empty() ? 0 : folder.size() + 1);
                const std::string relShort = e.shortPath.substr(folderShort.empty() ? 0 : folderShort.size() + 1);
                if (sameText_(shown, join_(shownBase, rel)) || sameText_(shown, join_(shownBase, relShort))) {
                    curLong = e.path;
                    curShort = e.shortPath;
                }
            }
            if (curLong.empty()) fail_("Couldn't read the listing of the folder " + shown + ".");
            continue;
        }
        if (freeBytes && freeBytes_(line) >= 0) *freeBytes = freeBytes_(line);
        DiskEntry e;
        std::string shortName, longName;
        if (!entryLine_(line, shortName, longName, e.folder, e.size)) continue;
        e.path = join_(curLong, longName);
        e.shortPath = join_(curShort, shortName);
        out.push_back(e);
    }
}

// The Windows folder of the root at the configured offset, with its short name; false for none.
// rootEntries gets the root's entries and the Windows folder's.
bool windowsFolder_(DiskImage& d)
{
    std::string out, err;
    // The Windows folder is listed in the same run when there is one: every mtools run counts.
    if (!tool_(d, {"mdir", "-a", "k:/", "k:/WINDOWS"}, out, err) && !tool_(d, {"mdir", "-a", "k:/"}, out, err)) return false;
    d.rootEntries.clear();
    parseListing_(out, "", "", d.rootEntries, nullptr);
    for (const DiskEntry& e : d.rootEntries)
        if (e.folder && sameText_(e.path, "WINDOWS")) {
            d.windowsDir = e.path;
            d.windowsShort = e.shortPath;
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
    const std::string foreign = foreignContainer_(first, footer, st.st_size);
    if (!foreign.empty()) fail_("The disk image " + d.path + " is a " + foreign + " file." + CONVERT_HINT);
    if (st.st_size < 2 * SECTOR) fail_("The file " + d.path + " is not a disk image (too small).");
    int64_t dataSize = st.st_size;
    if (memcmp(footer, "conectix", 8) == 0) dataSize -= SECTOR;
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
std::vector<Holder_> holders_(int fd)
{
    std::vector<Holder_> found;
    struct stat img;
    if (fstat(fd, &img) != 0) return found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    const pid_t self = getpid();
    while (dirent* p = readdir(proc)) {
        if (!isDigit_(p->d_name[0])) continue;
        const pid_t pid = static_cast<pid_t>(atol(p->d_name));
        if (pid == self) continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        bool holds = false;
        while (dirent* f = readdir(fds)) {
            struct stat st;
            if (f->d_name[0] == '.' || stat((fdDir + "/" + f->d_name).c_str(), &st) != 0) continue;
            if (st.st_dev == img.st_dev && st.st_ino == img.st_ino) holds = true;
        }
        closedir(fds);
        if (!holds) continue;
        std::string name = readSmall_(std::string("/proc/") + p->d_name + "/comm");
        while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
        found.push_back({pid, name});
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

}  // namespace

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
    std::string text;
    MonBlock([&] {
        std::vector<std::string> args = {"mdir", "-a"};
        if (recursive) args.push_back("-/");
        args.push_back(target_(folderShort));
        must_(disk, args, "list the folder " + (folder.empty() ? std::string("\\") : folder), &text);
        parseListing_(text, folder, folderShort, out, freeBytes);
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
        // mcopy names what it was given by the name it was given (the short one): each goes to a
        // scratch folder first and from there to its place. One run takes entries whose last
        // names differ.
        const std::string scratch = disk.toolConfig.substr(0, disk.toolConfig.rfind('/') + 1) + "copy/";
        size_t done = 0;
        while (done < entries.size()) {
            std::vector<const DiskEntry*> batch;
            std::vector<std::string> names;
            for (size_t i = done; i < entries.size(); i++) {
                const std::string name = lastName_(entries[i].shortPath);
                bool clash = false;
                for (const std::string& n : names) clash = clash || sameText_(n, name);
                if (clash) break;
                names.push_back(name);
                batch.push_back(&entries[i]);
            }
            std::error_code ec;
            std::filesystem::remove_all(scratch, ec);
            if (mkdir(scratch.c_str(), 0700) != 0) fail_("Couldn't create the folder " + scratch + ".");
            std::vector<std::string> args = {"mcopy", "-s", "-n", "-m", "-p"};
            for (const DiskEntry* e : batch) args.push_back(target_(e->shortPath));
            args.push_back(scratch);
            must_(disk, args, "read " + batch[0]->path);
            for (size_t i = 0; i < batch.size(); i++) {
                const std::string to = hostRoot + batch[i]->path;
                std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ec);
                if (rename((scratch + names[i]).c_str(), to.c_str()) != 0)
                    fail_("Couldn't read " + batch[i]->path + " from the disk image " + disk.path + ".");
            }
            done += batch.size();
        }
        std::error_code ec;
        std::filesystem::remove_all(scratch, ec);
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
    std::string out;
    MonBlock([&] {
        std::vector<std::string> args = {"mattrib"};
        for (const std::string& p : shortPaths) args.push_back(target_(p));
        must_(disk, args, "read the attributes of " + shortPaths[0], &out);
    });
    // One line a file, "  A  SHR     K:/MSDOS.SYS": the letters stand before the name.
    size_t pos = 0;
    while (pos < out.size() && attrs.size() < shortPaths.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        const size_t name = std::min(line.find("K:/"), line.find("k:/"));
        if (name == std::string::npos) continue;
        const std::string flags = line.substr(0, name);
        int attr = 0;
        if (flags.find('A') != std::string::npos) attr |= DISK_ATTR_ARCHIVE;
        if (flags.find('S') != std::string::npos) attr |= DISK_ATTR_SYSTEM;
        if (flags.find('H') != std::string::npos) attr |= DISK_ATTR_HIDDEN;
        if (flags.find('R') != std::string::npos) attr |= DISK_ATTR_READONLY;
        attrs.push_back(attr);
    }
    if (attrs.size() != shortPaths.size()) fail_("Couldn't read the attributes of " + shortPaths[0] + " in the disk image " + disk.path + ".");
    return attrs;
}

int64_t DiskFreeBytes(const DiskImage& disk)
{
    TRACE("DiskImage.DiskFreeBytes");
    unsigned char b[SECTOR];
    if (disk.fd < 0 || !readAt_(disk.fd, disk.offset, b, SECTOR) || !isFatBoot_(b)) return -1;
    const int64_t bps = BytesGetLE16(b + 11), spc = b[13], reserved = BytesGetLE16(b + 14), fats = b[16];
    const int64_t rootSectors = (static_cast<int64_t>(BytesGetLE16(b + 17)) * 32 + bps - 1) / bps;
    const int64_t total = BytesGetLE16(b + 19) ? BytesGetLE16(b + 19) : BytesGetLE32(b + 32);
    const int64_t fatSectors = BytesGetLE16(b + 22) ? BytesGetLE16(b + 22) : BytesGetLE32(b + 36);
    const int64_t dataStart = reserved + fats * fatSectors + rootSectors;
    if (total <= dataStart || fatSectors <= 0) return -1;
    const int64_t clusters = (total - dataStart) / spc;
    const int bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    const int64_t fatBytes = fatSectors * bps, needed = (clusters + 2) * bits / 8 + 2;
    // A FAT this large belongs to a disk far beyond Windows 9x's; mdir counts it then.
    if (needed > fatBytes || fatBytes > (64 << 20)) return -1;
    std::vector<unsigned char> fat(static_cast<size_t>(needed));
    if (!readAt_(disk.fd, disk.offset + reserved * bps, fat.data(), fat.size())) return -1;
    int64_t free = 0;
    for (int64_t c = 2; c < clusters + 2; c++) {
        uint32_t v;
        if (bits == 32) v = BytesGetLE32(&fat[static_cast<size_t>(c * 4)]) & 0x0FFFFFFF;
        else if (bits == 16) v = BytesGetLE16(&fat[static_cast<size_t>(c * 2)]);
        else {
            const uint32_t pair = BytesGetLE16(&fat[static_cast<size_t>(c * 3 / 2)]);
            v = (c & 1) ? pair >> 4 : pair & 0xFFF;
        }
        if (v == 0) free++;
    }
    return free * spc * bps;
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
