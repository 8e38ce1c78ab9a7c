#include "platform/FileLock.h"

#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/Mon.h"

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
