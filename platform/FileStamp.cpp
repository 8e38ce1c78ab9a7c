// File stamps from stat.
#include "platform/FileStamp.h"

#include "base/Mon.h"

#include <sys/stat.h>

#include <ctime>

namespace {

FileStamp fromStat_(const struct stat& st)
{
    FileStamp s;
    s.exists = true;
    s.regular = S_ISREG(st.st_mode);
    s.dev = static_cast<uint64_t>(st.st_dev);
    s.ino = static_cast<uint64_t>(st.st_ino);
    s.size = static_cast<int64_t>(st.st_size);
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    s.ctimeSec = st.st_ctim.tv_sec;
    s.ctimeNsec = st.st_ctim.tv_nsec;
    return s;
}

// Seconds from (sec, nsec) to seenAt.
double age_(int64_t sec, int64_t nsec, const StampClock& seenAt)
{
    return static_cast<double>(seenAt.sec - sec) + static_cast<double>(seenAt.nsec - nsec) / 1e9;
}

}  // namespace

StampClock StampNow()
{
    TRACE("FileStamp.StampNow");
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {ts.tv_sec, ts.tv_nsec};
}

FileStamp StampOf(const std::string& path)
{
    TRACE("FileStamp.StampOf");
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? fromStat_(st) : FileStamp();
}

FileStamp StampOfFd(int fd)
{
    TRACE("FileStamp.StampOfFd");
    struct stat st;
    return fstat(fd, &st) == 0 ? fromStat_(st) : FileStamp();
}

bool StampSame(const FileStamp& a, const FileStamp& b)
{
    TRACE("FileStamp.StampSame");
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           a.mtimeSec == b.mtimeSec && a.mtimeNsec == b.mtimeNsec && a.ctimeSec == b.ctimeSec &&
           a.ctimeNsec == b.ctimeNsec;
}

bool StampSettled(const FileStamp& s, const StampClock& seenAt)
{
    TRACE("FileStamp.StampSettled");
    if (!s.exists) return true;
    // A file system that keeps a fraction of a second keeps clock ticks (10 ms at most); one that
    // keeps whole seconds shows no fraction, and FAT counts in two.
    const double margin = s.mtimeNsec != 0 ? 0.05 : 2.0;
    return age_(s.mtimeSec, s.mtimeNsec, seenAt) >= margin && age_(s.ctimeSec, s.ctimeNsec, seenAt) >= margin;
}
