// Advisory locks (flock) on one file that another program may hold for a while, nested within
// this program. flock turns a shared lock into an exclusive one by dropping it first, so a
// refused upgrade would leave the outer holder unprotected: upgrades are refused instead, and a
// holder that will write takes the lock exclusively from the start.
#pragma once

#include <functional>

enum FileLockResult {
    FILE_LOCK_BUSY = 0,         // another program holds it past the wait; nothing taken
    FILE_LOCK_HELD = 1,         // locked now (the outermost take)
    FILE_LOCK_UNAVAILABLE = 2,  // taken without a lock: no file to lock, or a file system without locks
    FILE_LOCK_NESTED = 3,       // this program holds it already; only counted
    FILE_LOCK_REFUSED = 4       // exclusive asked inside a shared hold; nothing taken, the outer hold stays
};

struct FileLock {
    int Fd = -1;  // the locked file while held (-1 when there was none to open)
    int Depth = 0;
    bool Exclusive = false;
};

// Whether a take with result r holds the lock (and needs a FileLockRelease).
bool FileLockTaken(FileLockResult r);

// Takes lock, waiting up to waitMs; open() is called by the outermost take only and returns the
// descriptor to lock, which the lock owns from then on (-1: nothing to lock). waiting() is called
// once when the lock is not free at first.
FileLockResult FileLockTake(FileLock& lock, bool exclusive, const std::function<int()>& open, int waitMs,
                            const std::function<void()>& waiting = {});
// Only the outermost release unlocks and closes the file.
void FileLockRelease(FileLock& lock);

// Takes op (LOCK_SH or LOCK_EX) on fd, waiting up to waitMs, as FileLockTake does for a file
// that is not nested.
FileLockResult FileLockWait(int fd, int op, int waitMs, const std::function<void()>& waiting = {});
