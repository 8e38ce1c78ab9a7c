// DOS attributes over FAT ioctls or an extended attribute.
#include "platform/FileAttr.h"

#include "base/Mon.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char* const XATTR_NAME_ = "user.kelvane.dosattrib";
constexpr int KEPT_BITS_ = FA_HIDDEN | FA_SYSTEM | FA_ARCHIVE;

bool onFat_(int fd)
{
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && fs.f_type == MSDOS_SUPER_MAGIC;
}

// The attributes kept in the extended attribute; -1 when it is absent or unreadable.
int readXattr_(const std::string& path)
{
    char buf[32];
    ssize_t n = getxattr(path.c_str(), XATTR_NAME_, buf, sizeof buf - 1);
    if (n <= 0) return -1;
    buf[n] = '\0';
    char* end = nullptr;
    long v = strtol(buf, &end, 10);
    if (end == buf || v < 0 || v > 0xFFFF) return -1;
    return static_cast<int>(v) & KEPT_BITS_;
}

}  // namespace

int FileGetAttr(const std::string& path)
{
    TRACE("FileAttr.FileGetAttr");
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return -1;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        bool fat = onFat_(fd);
        uint32_t a = 0;
        bool got = fat && ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &a) == 0;
        close(fd);
        if (got) return static_cast<int>(a & 0xFF);
    }
    int attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= FA_DIRECTORY;
    if (!(st.st_mode & S_IWUSR)) attrs |= FA_READONLY;
    int kept = readXattr_(path);
    if (kept >= 0)
        attrs |= kept;
    else if (!S_ISDIR(st.st_mode))
        attrs |= FA_ARCHIVE;
    return attrs;
}

bool FileSetAttr(const std::string& path, int attrs)
{
    TRACE("FileAttr.FileSetAttr");
    struct stat st;
    // A link's target is not ours to change: its mode would change through the link.
    if (path.empty() || lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        if (onFat_(fd)) {
            uint32_t a = static_cast<uint32_t>(attrs & (FA_READONLY | KEPT_BITS_));
            if (S_ISDIR(st.st_mode)) a |= FA_DIRECTORY;
            bool ok = ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &a) == 0;
            close(fd);
            return ok;
        }
        close(fd);
    }
    mode_t mode = st.st_mode & 07777;
    mode_t want = (attrs & FA_READONLY) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    // Extended attributes need write access: open the file up first, close it down last.
    if (want != mode && (want & S_IWUSR) && chmod(path.c_str(), want) != 0) return false;

    int kept = attrs & KEPT_BITS_;
    int now = readXattr_(path);
    int defaultBits = S_ISDIR(st.st_mode) ? 0 : FA_ARCHIVE;
    if (now != kept && !(now < 0 && kept == defaultBits)) {
        std::string text = std::to_string(kept);
        // File systems without user extended attributes cannot keep these bits; that is no failure.
        setxattr(path.c_str(), XATTR_NAME_, text.data(), text.size(), 0);
    }
    if (want != mode && !(want & S_IWUSR) && chmod(path.c_str(), want) != 0) return false;
    return true;
}

bool FileCopyAttr(const std::string& from, const std::string& to)
{
    TRACE("FileAttr.FileCopyAttr");
    int a = FileGetAttr(from);
    if (a < 0) return false;
    return FileSetAttr(to, a & ~FA_DIRECTORY);
}
