// Two programs saving settings at once: the read-merge-write of the settings file (with the
// install information it brings along) and every advance of the pick counters hold an exclusive
// advisory lock (flock) on the program folder. The folder is locked rather than the settings file,
// which every save replaces by a rename, dropping a lock held on it. Taken after the store and
// Windows folder locks, never before them. A program that cannot get it waits a few seconds; on a
// file system without locks it goes on unlocked. Nested takes count: only the outermost release
// unlocks.
#pragma once

constexpr const char* SETTINGS_LOCK_BUSY = "The settings are in use by another Kelvane Studio.";

// False when another program holds the lock past the wait (nothing is then held).
bool SettingsLockTake();
void SettingsLockRelease();
// How long a second program waits (milliseconds).
void SettingsLockSetWait(int milliseconds);

// Holds the lock for the lifetime of the scope when Held.
struct SettingsLockScope {
    SettingsLockScope() : Held(SettingsLockTake()) {}
    ~SettingsLockScope()
    {
        if (Held) SettingsLockRelease();
    }
    SettingsLockScope(const SettingsLockScope&) = delete;
    SettingsLockScope& operator=(const SettingsLockScope&) = delete;
    const bool Held;
};
