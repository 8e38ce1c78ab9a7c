#include "platform/Prefs.h"
#include "platform/ProfileFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// Copies are kept only once the file times have settled, so the scenario waits past that point:
// from then on only the stamps can tell that another program changed something.
TEST(KeptCopies, ChangesOfAnotherProgramShowAfterTheTimesSettled)
{
    TempDir tmp;
    const std::string win = tmp / "drive_c/WINDOWS";
    std::filesystem::create_directories(win);
    setenv("KVS_WINDOWS_DIR", win.c_str(), 1);
    ProfileDropCache();
    const std::string ini = tmp / "s.ini";
    WriteWholeFile(ini, "[Main]\nA=1\n");
    usleep(150000);

    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadInt("A", 0), 1);
    WriteWholeFile(ini, "[Main]\nA=2\n");  // in place: same file, same size
    EXPECT_EQ(PrefsReadInt("A", 0), 2);

    // The folder was read to find the missing file ignoring case; a file made since still counts.
    PrefsPrepare(tmp / "late.ini", "Main");
    EXPECT_EQ(PrefsReadInt("A", 0), 0);
    WriteWholeFile(tmp / "LATE.INI", "[Main]\nA=3\n");
    EXPECT_EQ(PrefsReadInt("A", 0), 3);

    PrefsClear();
    ProfileDropCache();
}

// A FIFO in the place of a settings file has no writer: opening it to read must not wait for one.
TEST(ProfileFile, AFifoInsteadOfTheFileGivesDefaultsAndIsNeverWritten)
{
    TempDir tmp;
    const std::string win = tmp / "drive_c/WINDOWS";
    std::filesystem::create_directories(win);
    setenv("KVS_WINDOWS_DIR", win.c_str(), 1);
    const std::string fifo = tmp / "Kvs.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(20);  // a read that waits ends the test here
    std::string out;
    EXPECT_EQ(ProfileReadString("Main", "A", "def", out, 100, fifo), 3);
    EXPECT_EQ(out, "def");
    EXPECT_FALSE(ProfileWriteString("Main", "A", "1", fifo));
    alarm(0);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ProfileDropCache();
}

}  // namespace
