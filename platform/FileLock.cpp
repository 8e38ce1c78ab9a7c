#include "platform/FileLock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/Mon.h"

bool FileLockTaken(FileLockResult r) { return r != FILE_LOCK_BUSY && r != FILE_LOCK_REFUSED; }

FileLockResult FileLockWait(int fd, int op, int waitMs, const std::function<void()>& waiting)
{
    TRACE("FileLock.FileLockWait");
    constexpr int pollMs = 25;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool told = false;
    for (;;) {
        if (flock(fd, op | LOCK_NB) == 0) return FILE_LOCK_HELD;
        if (errno != EWOULDBLOCK && errno != EINTR) return FILE_LOCK_UNAVAILABLE;
        if (std::chrono::steady_clock::now() >= until) return FILE_LOCK_BUSY;
        if (!told && waiting) waiting();
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

FileLockResult FileLockTake(FileLock& lock, bool exclusive, const std::function<int()>& open, int waitMs,
                            const std::function<void()>& waiting)
{
    TRACE("FileLock.FileLockTake");
    if (lock.Depth > 0) {
        if (exclusive && !lock.Exclusive) return FILE_LOCK_REFUSED;
        ++lock.Depth;
        return FILE_LOCK_NESTED;
    }
    const int fd = open ? open() : -1;
    const FileLockResult got = fd >= 0 ? FileLockWait(fd, exclusive ? LOCK_EX : LOCK_SH, waitMs, waiting)
                                       : FILE_LOCK_UNAVAILABLE;
    if (got == FILE_LOCK_BUSY) {
        close(fd);
        return got;
    }
    lock.Fd = fd;
    lock.Depth = 1;
    lock.Exclusive = exclusive;
    return got;
}

void FileLockRelease(FileLock& lock)
{
    TRACE("FileLock.FileLockRelease");
    if (lock.Depth == 0 || --lock.Depth > 0) return;
    if (lock.Fd >= 0) close(lock.Fd);  // closing drops the lock
    lock.Fd = -1;
    lock.Exclusive = false;
}
