#include "core/SettingsLock.h"

#include "base/Mon.h"
#include "core/Settings.h"
#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int fd_ = -1;
int depth_ = 0;
int waitMs_ = 5000;

// True also on a file system without locks: it cannot keep two programs apart, and must not stop
// this one.
bool lockWaiting_(int fd) { return FileLockWait(fd, LOCK_EX, waitMs_) != FILE_LOCK_BUSY; }

}  // namespace

bool SettingsLockTake()
{
    TRACE("SettingsLock.SettingsLockTake");
    if (depth_ == 0) {
        // A folder that cannot be opened cannot take the settings either; the save says so.
        fd_ = open(GetProgramDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0 && !lockWaiting_(fd_)) {
            close(fd_);
            fd_ = -1;
            return false;
        }
    }
    ++depth_;
    return true;
}

void SettingsLockRelease()
{
    TRACE("SettingsLock.SettingsLockRelease");
    if (depth_ == 0 || --depth_ > 0) return;
    if (fd_ >= 0) close(fd_);  // closing drops the lock
    fd_ = -1;
}

void SettingsLockSetWait(int milliseconds) { waitMs_ = milliseconds < 0 ? 0 : milliseconds; }
