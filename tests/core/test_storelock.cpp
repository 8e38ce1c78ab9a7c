// The store lock against another program that locks the same file (another open file stands in
// for it: flock locks belong to the open file).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/Settings.h"
#include "core/StoreLock.h"
#include "support/TempDir.h"
#include "support/TempEnv.h"

TEST(StoreLock, AWriteInsideAReadIsRefusedAndTheReadStaysLocked)
{
    TempDir dir;
    SetStorageDir(dir.str());
    StoreLockSetWait(50);
    ASSERT_TRUE(StoreLockTake(LOCK_STORE, false));
    const int other = open((dir / STORE_LOCK_FILE).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_SH | LOCK_NB), 0);

    EXPECT_FALSE(StoreLockTake(LOCK_STORE, true));
    const Outcome refused = StoreLockBusy();
    ASSERT_EQ(refused.Errors.size(), 1u);
    EXPECT_EQ(refused.Errors[0], STORE_LOCK_UPGRADE);
    // The other reader leaves; this program's read must still keep a writer out.
    flock(other, LOCK_UN);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    StoreLockRelease(LOCK_STORE);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

    // Busy while another program writes; then a write nests reads and writes until its own release.
    EXPECT_FALSE(StoreLockTake(LOCK_STORE, true));
    EXPECT_EQ(StoreLockBusy().Errors[0], STORE_LOCK_BUSY);
    flock(other, LOCK_UN);
    ASSERT_TRUE(StoreLockTake(LOCK_STORE, true));
    ASSERT_TRUE(StoreLockTake(LOCK_STORE, false));
    ASSERT_TRUE(StoreLockTake(LOCK_STORE, true));
    StoreLockRelease(LOCK_STORE);
    StoreLockRelease(LOCK_STORE);
    EXPECT_NE(flock(other, LOCK_SH | LOCK_NB), 0);
    StoreLockRelease(LOCK_STORE);
    EXPECT_EQ(flock(other, LOCK_SH | LOCK_NB), 0);
    close(other);
    StoreLockSetWait(5000);
}

TEST(StoreLock, ABusyWindowsFolderLeavesTheStoreFree)
{
    TempEnv env;
    TempDir dir;
    SetStorageDir(dir.str());
    StoreLockSetWait(50);
    const int windows = open(env.win.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(windows, 0);
    ASSERT_EQ(flock(windows, LOCK_EX | LOCK_NB), 0);

    EXPECT_FALSE(StoreLockTake(LOCK_STORE | LOCK_WINDOWS, true));
    // Another program may write the store at once: the failed take holds nothing.
    const int store = open((dir / STORE_LOCK_FILE).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(store, 0);
    EXPECT_EQ(flock(store, LOCK_EX | LOCK_NB), 0);
    close(store);
    close(windows);
    StoreLockSetWait(5000);
}
