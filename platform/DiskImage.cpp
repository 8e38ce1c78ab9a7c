// Disk images: containers, partitions, locks and the mtools programs.
#include "platform/DiskImage.h"

#include <cctype>
#include <cstdint>

#include "base/Bytes.h"
#include "base/Mon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// The name of a container this program cannot read, from the first sector; empty for none.
std::string foreignContainer_(const unsigned char* first, const unsigned char* footer, int64_t size)
{
    if (memcmp(first, "QFI\xfb", 4) == 0) return "QCOW2";
    if (memcmp(first, "KDMV", 4) == 0 || memcmp(first, "# Disk DescriptorFile", 21) == 0) return "VMDK";
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
    std::string text = "mtools_skip_check=1\nmtools_lock_timeout=5\ndrive k: file=\"" + d.path +
                       "\" offset=" + std::to_string(d.offset) + "\n";
    const std::string tmp = d.toolConfig + ".new";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), d.toolConfig.c_str()) != 0) fail_("Couldn't write the file " + d.toolConfig + ".");
}

std::string target_(const std::string& path)
{
    return "k:/" + path;
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

// Runs the tool under a monitor block; true when it worked (a failure raises).
bool simple_(const DiskImage& d, const std::vector<std::string>& args, const std::string& what)
{
    MonBlock([&] { must_(d, args, what); });
    return true;
}

// Whether the root of the file system at the configured offset holds a Windows folder.
std::string windowsFolder_(const DiskImage& d)
{
    std::string out, err;
    if (!tool_(d, {"mdir", "-b", "-a", "k:/"}, out, err)) return std::string();
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() > 4 && line.back() == '/' && strcasecmp(line.substr(3, line.size() - 4).c_str(), "WINDOWS") == 0)
            return line.substr(3, line.size() - 4);
    }
    return std::string();
}

void choose_(DiskImage& d, const std::vector<Candidate_>& found, int partition)
{
    for (const Candidate_& c : found) {
        if (partition > 0 && c.partition != partition) continue;
        d.partition = c.partition;
        d.offset = c.offset;
        writeConfig_(d);
        d.windowsDir = windowsFolder_(d);
        if (!d.windowsDir.empty()) return;
        if (partition > 0) fail_("Partition " + std::to_string(partition) + " of the disk image " + d.path + " holds no WINDOWS folder.");
    }
    if (partition > 0) fail_("The disk image " + d.path + " has no FAT partition " + std::to_string(partition) + ".");
    if (d.kind == DISK_RAW_MBR && found.empty()) fail_("The disk image " + d.path + " has no FAT partition.");
    fail_("No FAT file system in the disk image " + d.path + " holds a WINDOWS folder.");
}

void recognise_(DiskImage& d, int partition)
{
    struct stat st;
    if (fstat(d.fd, &st) != 0 || st.st_size < 2 * SECTOR) fail_("The file " + d.path + " is not a disk image (too small).");
    unsigned char first[SECTOR], footer[SECTOR];
    if (!readAt_(d.fd, 0, first, SECTOR) || !readAt_(d.fd, st.st_size - SECTOR, footer, SECTOR))
        fail_("Couldn't read the disk image " + d.path + ".");
    const std::string foreign = foreignContainer_(first, footer, st.st_size);
    if (!foreign.empty()) fail_("The disk image " + d.path + " is a " + foreign + " file." + CONVERT_HINT);
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

bool flockWithin_(int fd, int seconds)
{
    for (int i = 0; i <= seconds * 10; i++) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        usleep(100000);
    }
    return false;
}

std::string absolute_(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string r(real);
    free(real);
    return r;
}

}  // namespace

bool DiskIsImageFile(const std::string& path)
{
    TRACE("DiskImage.DiskIsImageFile");
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DiskOpen(const std::string& path, int partition, const std::string& workDir, DiskImage& disk)
{
    TRACE("DiskImage.DiskOpen");
    try {
      MonBlock([&] {
        disk = DiskImage();
        disk.path = absolute_(path);
        if (disk.path.find_first_of("\"\n") != std::string::npos)
            fail_("The name of the disk image " + path + " holds a character mtools cannot take.");
        disk.toolConfig = workDir + "mtools.conf";
        disk.fd = open(disk.path.c_str(), O_RDWR | O_CLOEXEC);
        if (disk.fd < 0 && (errno == EACCES || errno == EROFS)) {
            disk.fd = open(disk.path.c_str(), O_RDONLY | O_CLOEXEC);
            disk.readOnly = true;
        }
        if (disk.fd < 0) fail_("Couldn't open the disk image " + path + " (" + strerror(errno) + ").");
        if (!flockWithin_(disk.fd, LOCK_WAIT_SECONDS) || lockedByOther_(disk.fd)) fail_(DISK_IN_USE_TEXT);
        recognise_(disk, partition);
      });
    } catch (...) {
        DiskClose(disk);
        throw;
    }
    return true;
}

void DiskClose(DiskImage& disk)
{
    TRACE("DiskImage.DiskClose");
    if (disk.fd >= 0) close(disk.fd);  // also drops the flock
    disk.fd = -1;
}

bool DiskCheckWritable(const DiskImage& disk)
{
    TRACE("DiskImage.DiskCheckWritable");
    if (disk.fd < 0 || lockedByOther_(disk.fd)) {
        MonErrorMsg(DISK_ERROR_CLASS, DISK_IN_USE_TEXT, __LINE__);
        return false;
    }
    if (disk.readOnly) {
        MonErrorMsg(DISK_ERROR_CLASS, "The disk image " + disk.path + " is read-only.", __LINE__);
        return false;
    }
    return true;
}

bool DiskList(const DiskImage& disk, const std::string& folder, bool recursive, std::vector<DiskEntry>& out)
{
    TRACE("DiskImage.DiskList");
    std::string text;
    MonBlock([&] {
        std::vector<std::string> args = {"mdir", "-b", "-a"};
        if (recursive) args.push_back("-/");
        args.push_back(target_(folder));
        must_(disk, args, "list the folder " + folder, &text);
    });
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() < 4 || line[1] != ':' || line[2] != '/') continue;
        DiskEntry e;
        e.folder = line.back() == '/';
        e.path = line.substr(3, line.size() - 3 - (e.folder ? 1 : 0));
        if (!e.path.empty()) out.push_back(e);
    }
    return true;
}

// The number that ends right before at in text, its digit groups separated by blanks as mdir
// prints them; -1 for none.
static int64_t NumberBefore_(const std::string& text, size_t at)
{
    int64_t value = 0, scale = 1;
    bool any = false;
    while (at > 0 && (std::isdigit(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == ' ')) {
        const char c = text[--at];
        if (c == ' ') {
            if (any && (at == 0 || !std::isdigit(static_cast<unsigned char>(text[at - 1])))) break;
            continue;
        }
        if (scale > INT64_MAX / 10) return -1;
        value += (c - '0') * scale;
        scale *= 10;
        any = true;
    }
    return any ? value : -1;
}

bool DiskSpace(const DiskImage& disk, int64_t& freeBytes, int64_t& clusterBytes)
{
    TRACE("DiskImage.DiskSpace");
    freeBytes = clusterBytes = 0;
    std::string out, info, err;
    if (!tool_(disk, {"mdir", "-a", "k:/"}, out, err) || !tool_(disk, {"minfo", "k:"}, info, err)) return false;
    const size_t freeAt = out.rfind(" bytes free");
    const size_t sectorAt = info.find("sector size: "), clusterAt = info.find("cluster size: ");
    if (freeAt == std::string::npos || sectorAt == std::string::npos || clusterAt == std::string::npos) return false;
    const int64_t sector = std::atoll(info.c_str() + sectorAt + 13), sectors = std::atoll(info.c_str() + clusterAt + 14);
    freeBytes = NumberBefore_(out, freeAt);
    if (freeBytes < 0 || sector <= 0 || sectors <= 0 || sector > 65536 || sectors > 256) return false;
    clusterBytes = sector * sectors;
    return true;
}

bool DiskCopyOut(const DiskImage& disk, const std::vector<std::string>& paths, const std::string& hostDir)
{
    TRACE("DiskImage.DiskCopyOut");
    if (paths.empty()) return true;
    MonBlock([&] {
        std::vector<std::string> args = {"mcopy", "-s", "-n", "-m", "-p"};
        for (const std::string& p : paths) args.push_back(target_(p));
        args.push_back(hostDir);
        must_(disk, args, "read " + paths[0]);
    });
    return true;
}

bool DiskCopyIn(const DiskImage& disk, const std::string& hostFile, const std::string& path)
{
    TRACE("DiskImage.DiskCopyIn");
    return simple_(disk, {"mcopy", "-o", "-m", hostFile, target_(path)}, "write " + path);
}

bool DiskRename(const DiskImage& disk, const std::string& from, const std::string& to)
{
    TRACE("DiskImage.DiskRename");
    return simple_(disk, {"mren", "-D", "o", target_(from), target_(to)}, "rename " + from);
}

bool DiskDelete(const DiskImage& disk, const std::string& path)
{
    TRACE("DiskImage.DiskDelete");
    return simple_(disk, {"mdel", target_(path)}, "delete " + path);
}

bool DiskMakeDir(const DiskImage& disk, const std::string& path)
{
    TRACE("DiskImage.DiskMakeDir");
    return simple_(disk, {"mmd", target_(path)}, "make the folder " + path);
}

bool DiskRemoveDir(const DiskImage& disk, const std::string& path)
{
    TRACE("DiskImage.DiskRemoveDir");
    return simple_(disk, {"mrd", target_(path)}, "remove the folder " + path);
}

int DiskGetAttr(const DiskImage& disk, const std::string& path)
{
    TRACE("DiskImage.DiskGetAttr");
    std::string out;
    MonBlock([&] { must_(disk, {"mattrib", target_(path)}, "read the attributes of " + path, &out); });
    // "  A  SHR     K:/MSDOS.SYS": the letters stand before the name.
    const size_t name = out.find("K:/") != std::string::npos ? out.find("K:/") : out.find("k:/");
    const std::string flags = out.substr(0, name == std::string::npos ? 0 : name);
    int attr = 0;
    if (flags.find('A') != std::string::npos) attr |= DISK_ATTR_ARCHIVE;
    if (flags.find('S') != std::string::npos) attr |= DISK_ATTR_SYSTEM;
    if (flags.find('H') != std::string::npos) attr |= DISK_ATTR_HIDDEN;
    if (flags.find('R') != std::string::npos) attr |= DISK_ATTR_READONLY;
    return attr;
}

bool DiskSetAttr(const DiskImage& disk, const std::string& path, int attr)
{
    TRACE("DiskImage.DiskSetAttr");
    auto flag = [attr](int bit, const char* on, const char* off) { return std::string((attr & bit) ? on : off); };
    MonBlock([&] {
        must_(disk, {"mattrib", flag(DISK_ATTR_ARCHIVE, "+a", "-a"), flag(DISK_ATTR_SYSTEM, "+s", "-s"),
                     flag(DISK_ATTR_HIDDEN, "+h", "-h"), flag(DISK_ATTR_READONLY, "+r", "-r"), target_(path)},
              "set the attributes of " + path);
    });
    return true;
}
