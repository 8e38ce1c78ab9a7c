#include "core/SettingsLock.h"

#include "base/Mon.h"
#include "core/ProgramDir.h"
#include "platform/FileLock.h"

#include <fcntl.h>

namespace {

FileLock lock_;
int waitMs_ = 5000;

}  // namespace

bool SettingsLockTake()
{
    TRACE("SettingsLock.SettingsLockTake");
    // A folder that cannot be opened cannot take the settings either; the save says so. A file
    // system without locks cannot keep two programs apart, and must not stop this one.
    auto open_ = [] { return open(GetProgramDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); };
    return FileLockTaken(FileLockTake(lock_, true, open_, waitMs_));
}

void SettingsLockRelease()
{
    TRACE("SettingsLock.SettingsLockRelease");
    FileLockRelease(lock_);
}

void SettingsLockSetWait(int milliseconds) { waitMs_ = milliseconds < 0 ? 0 : milliseconds; }
