#include "base/SafeFile.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/WriteJournal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr size_t TEMP_RANDOM_ = 10;  // characters of the random part
constexpr size_t TEMP_BASE_MAX_ = 160;  // keeps the temporary name within the 255-byte limit

bool syncOn_ = true;

struct Temp {
    std::string path;
    int fd = -1;
    mode_t mode = 0600;
    ino_t inode = 0;
};

std::string folderOf_(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string randomPart_()
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned char raw[TEMP_RANDOM_] = {};
    if (getrandom(raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw))
        for (unsigned char& b : raw) b = static_cast<unsigned char>(std::rand());
    std::string s;
    for (unsigned char b : raw) s += digits[b % 36];
    return s;
}

// The mode the new file gets: the old file's (a link's target is only looked at), else the
// default of a new file.
mode_t modeFor_(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool create_(const std::string& target, Temp& t)
{
    std::string base = target.substr(target.rfind('/') + 1);
    if (base.size() > TEMP_BASE_MAX_) base.resize(TEMP_BASE_MAX_);
    const std::string dir = folderOf_(target);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string path = (dir == "/" ? "" : dir) + "/." + base + "." + randomPart_() + SAFE_TEMP_SUFFIX;
        t.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        // Only a file made here is ours to remove on failure.
        if (t.fd >= 0) t.path = path;
        if (t.fd >= 0 || errno != EEXIST) break;
    }
    struct stat st;
    t.mode = modeFor_(target);
    if (t.fd < 0 || fchmod(t.fd, t.mode) != 0 || fstat(t.fd, &st) != 0) return false;
    t.inode = st.st_ino;
    return true;
}

bool writeAll_(int fd, const uint8_t* data, int64_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

// Flushes the file at the temporary name: a writer may have made it anew there (format writers
// delete before they create), so it is opened again, never through a link.
bool syncTemp_(const Temp& t, int64_t expectSize)
{
    const int fd = open(t.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (expectSize < 0 || st.st_size == expectSize);
    // A file made anew by the writer gets the mode of the file it replaces.
    if (ok && st.st_ino != t.inode) ok = fchmod(fd, t.mode) == 0;
    if (ok && syncOn_) ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

void syncFolder_(const std::string& target)
{
    // The rename has happened either way: a folder that cannot be flushed changes nothing we could undo.
    const int dfd = open(folderOf_(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    if (syncOn_) fsync(dfd);
    close(dfd);
}

// Flushes, closes and renames; the error code of the file class, 0 when the target is replaced.
int commit_(const std::string& target, Temp& t, int64_t expectSize)
{
    const bool closed = close(t.fd) == 0;
    t.fd = -1;
    if (!closed) return 8;
    if (!syncTemp_(t, expectSize)) return 4;
    if (rename(t.path.c_str(), target.c_str()) != 0) return 10;
    JournalNote(target);
    syncFolder_(target);
    return 0;
}

void discard_(Temp& t)
{
    if (t.fd >= 0) close(t.fd);
    t.fd = -1;
    if (!t.path.empty()) unlink(t.path.c_str());
}

bool fail_(const std::string& target, Temp& t, int code)
{
    discard_(t);
    SetLastFileName(target);
    MonError(EC_FILE, code, __LINE__);
    return false;
}

}  // namespace

bool SafeWrite(const std::string& path, const void* data, int64_t size)
{
    TRACE("SafeFile.SafeWrite");
    Temp t;
    if (!create_(path, t)) return fail_(path, t, 2);
    if (!writeAll_(t.fd, static_cast<const uint8_t*>(data), size)) return fail_(path, t, 4);
    const int code = commit_(path, t, size);
    return code == 0 || fail_(path, t, code);
}

bool SafeWrite(const std::string& path, const std::string& data)
{
    return SafeWrite(path, data.data(), static_cast<int64_t>(data.size()));
}

bool SafeTryWrite(const std::string& path, const std::string& data)
{
    TRACE("SafeFile.SafeTryWrite");
    bool ok = false;
    MonBlockTransparent([&] { ok = SafeWrite(path, data); });
    return ok && MonOK();
}

bool SafeWriteWith(const std::string& path, const std::function<void(const std::string& temp)>& fill)
{
    TRACE("SafeFile.SafeWriteWith");
    Temp t;
    if (!create_(path, t)) return fail_(path, t, 2);
    try {
        MonBlock([&] { fill(t.path); });
    } catch (...) {
        discard_(t);
        throw;
    }
    const int code = commit_(path, t, -1);
    return code == 0 || fail_(path, t, code);
}

bool SafeIsTempName(const std::string& fileName)
{
    const std::string end = SAFE_TEMP_SUFFIX;
    return fileName.size() > end.size() + 1 && fileName[0] == '.' &&
           fileName.compare(fileName.size() - end.size(), end.size(), end) == 0;
}

std::string SafeTempTarget(const std::string& fileName)
{
    // "." target "." random SAFE_TEMP_SUFFIX
    const size_t tail = 1 + TEMP_RANDOM_ + std::string(SAFE_TEMP_SUFFIX).size();
    if (!SafeIsTempName(fileName) || fileName.size() <= 1 + tail) return std::string();
    return fileName.substr(1, fileName.size() - 1 - tail);
}

void SafeSetSync(bool on) { syncOn_ = on; }
