// Advisory locks (flock) that another program may hold for a while: the wait polls until the
// lock is free or the time is up.
#pragma once

#include <functional>

enum FileLockResult { FILE_LOCK_BUSY = 0, FILE_LOCK_HELD = 1, FILE_LOCK_UNAVAILABLE = 2 };

// Takes op (LOCK_SH or LOCK_EX) on fd, waiting up to waitMs; waiting() is called once when the
// lock is not free at first. UNAVAILABLE: the file system keeps no locks.
FileLockResult FileLockWait(int fd, int op, int waitMs, const std::function<void()>& waiting = {});
