#include "core/StoreLock.h"

#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/UiServices.h"
#include "core/Settings.h"
#include "platform/DrivePath.h"
#include "platform/FileLock.h"
#include "platform/SysInfo.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

namespace {

FileLock held_[2];  // the store, the Windows folder
std::string failText_ = STORE_LOCK_BUSY;  // why the last take failed
int waitMs_ = 5000;
void (*reload_)() = nullptr;

// The store's lock file (made with its folder for a change); the Windows folder is locked itself,
// so nothing is added to a real Windows installation. -1 when there is nothing to open.
int openLock_(int which, bool exclusive)
{
    if (which == 1) return open(SysWindowsDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string dir = AddBS(GetStorageDir());
    if (exclusive) MakeLongDir(dir);
    const std::string path = dir + STORE_LOCK_FILE;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return fd;
}

// Removes the temporary files in folder whose target passes left. Called while this program
// holds exclusively the lock that every writer of those targets holds, so what it finds is what a
// killed program left behind.
void dropLeftTemps_(const std::string& folder, const std::function<bool(const std::string& target)>& left)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code ig;
        const std::string target = SafeTempTarget(it->path().filename().string());
        if (!target.empty() && left(target) && it->is_regular_file(ig) && !it->is_symlink(ig)) fs::remove(it->path(), ig);
    }
}

// The storage folder holds only store files; the logo files, MSDOS.SYS and the backup folder are
// written under the Windows folder's lock (win.ini and registry.ini beside them are not).
void dropLeftTempsOf_(int which)
{
    if (which == 0) return dropLeftTemps_(AddBS(GetStorageDir()), [](const std::string&) { return true; });
    auto named = [](const std::string& name) {
        return [name](const std::string& target) { return strcasecmp(target.c_str(), name.c_str()) == 0; };
    };
    for (int position : {POS_STARTUP, POS_WAIT, POS_TURNOFF}) {
        const std::filesystem::path logo(DriveResolve(GetLogoFileName(position)));
        dropLeftTemps_(logo.parent_path().string(), named(logo.filename().string()));
    }
    dropLeftTemps_(SysDriveRoot(), named("MSDOS.SYS"));
    if (!DriveLeadsOff(GetBackupDir())) dropLeftTemps_(GetBackupDir(), [](const std::string&) { return true; });
}

// A file system without locks cannot keep two programs apart; it must not stop this one.
bool take_(int which, bool exclusive)
{
    // Neither locked nor changed: a store folder that a link takes off the drive is not the
    // drive's, and "/uninst" would delete pictures there.
    if (which == 0 && held_[0].Depth == 0 && DriveLeadsOff(GetStorageDir())) {
        failText_ = "The storage folder \"" + DriveToWin(GetStorageDir()) + "\" is a link to a folder off the drive; "
                    "Kelvane Studio keeps its images only on the drive.";
        return false;
    }
    const FileLockResult got = FileLockTake(
        held_[which], exclusive, [&] { return openLock_(which, exclusive); }, waitMs_,
        [] { Ui().ShowStatus("Waiting for another Kelvane Studio to finish...", false); });
    if (got == FILE_LOCK_REFUSED) failText_ = STORE_LOCK_UPGRADE;
    if (got == FILE_LOCK_BUSY) failText_ = STORE_LOCK_BUSY;
    if (!FileLockTaken(got)) return false;
    if (exclusive && got == FILE_LOCK_HELD) dropLeftTempsOf_(which);
    return true;
}

void release_(int which) { FileLockRelease(held_[which]); }

}  // namespace

static int ExclusiveTakes_ = 0;

bool StoreLockTake(int what, bool exclusive)
{
    TRACE("StoreLock.StoreLockTake");
    const bool first = held_[0].Depth == 0;
    if ((what & LOCK_STORE) && !take_(0, exclusive)) return false;
    if ((what & LOCK_WINDOWS) && !take_(1, exclusive)) {
        if (what & LOCK_STORE) release_(0);
        return false;
    }
    // Only the outermost take reads again: what it read is current while the lock is held.
    if ((what & LOCK_STORE) && first && reload_) reload_();
    if (exclusive) ++ExclusiveTakes_;
    return true;
}

int StoreLockExclusiveTakes() { return ExclusiveTakes_; }

void StoreLockSetReload(void (*reload)()) { reload_ = reload; }

void StoreLockRelease(int what)
{
    TRACE("StoreLock.StoreLockRelease");
    if (what & LOCK_WINDOWS) release_(1);
    if (what & LOCK_STORE) release_(0);
}

void StoreLockSetWait(int milliseconds) { waitMs_ = milliseconds < 0 ? 0 : milliseconds; }

Outcome StoreLockBusy()
{
    TRACE("StoreLock.StoreLockBusy");
    Outcome o;
    OutcomeFail(o, failText_);
    return o;
}
