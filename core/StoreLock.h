// Two programs at once: a command that reads, changes and writes the image store holds the store
// lock exclusively from its read to its last write; one that only reads holds it shared. Commands
// that write the logo files or restore.bat also hold the Windows folder's lock. Locks are advisory
// (flock) and taken store first, Windows folder second. A program that cannot get a lock waits a
// few seconds, telling so in the status line, then the command fails with STORE_LOCK_BUSY and
// changes nothing.
// Taking a lock exclusively removes the temporary files a killed program left among the files it
// covers. Nested takes within one program count: only the outermost release unlocks. A command
// that writes takes the lock exclusively from the start: an exclusive take inside a shared one is
// refused (the shared hold stays) rather than let go of the lock while it waits.
#pragma once

#include "core/Outcome.h"

#include <string>

constexpr const char* STORE_LOCK_BUSY = "The image store is in use by another Kelvane Studio.";
constexpr const char* STORE_LOCK_UPGRADE =
    "A change of the image store was started while it was only being read; nothing was changed.";
constexpr const char* STORE_LOCK_FILE = "kvs.lock";
constexpr int STORE_LOCK_ERROR_CLASS = 2;  // a monitor error whose text is STORE_LOCK_BUSY

enum { LOCK_STORE = 1, LOCK_WINDOWS = 2 };

// Takes the locks named by what (LOCK_STORE, LOCK_WINDOWS); false when another program holds them
// past the wait or an exclusive take is nested in a shared one (nothing more is then held). The
// outermost take of the store lock runs the reload given below, so that what the program holds of
// the store is current while the lock is.
bool StoreLockTake(int what, bool exclusive);
// The image store gives the step that reads its list again when another program changed it; the
// lock sits below the store, whose own reads and writes take it.
void StoreLockSetReload(void (*reload)());
void StoreLockRelease(int what);
// How many times this program took a lock exclusively: a front-end tells by it whether a command
// changed the drive or the store.
int StoreLockExclusiveTakes();
// How long a second program waits (milliseconds).
void StoreLockSetWait(int milliseconds);
// The outcome of a command that could not get its lock.
Outcome StoreLockBusy();

// Holds the locks for the lifetime of the scope (a command's body) when Held.
struct StoreLockScope {
    StoreLockScope(int what, bool exclusive) : Held(StoreLockTake(what, exclusive)), what_(what) {}
    ~StoreLockScope()
    {
        if (Held) StoreLockRelease(what_);
    }
    StoreLockScope(const StoreLockScope&) = delete;
    StoreLockScope& operator=(const StoreLockScope&) = delete;
    const bool Held;

private:
    int what_;
};
