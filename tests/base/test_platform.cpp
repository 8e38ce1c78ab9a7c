#include "platform/FileAttr.h"
#include "platform/SysExe.h"
#include "platform/SysInfo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Restores an environment variable when the test ends.
struct EnvGuard {
    std::string name;
    bool had;
    std::string value;
    explicit EnvGuard(const char* n) : name(n)
    {
        const char* v = getenv(n);
        had = v != nullptr;
        if (had) value = v;
    }
    ~EnvGuard()
    {
        if (had)
            setenv(name.c_str(), value.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

TEST(PlatformFileAttr, ReadOnlyIsTheOwnerWriteBit)
{
    TempDir tmp;
    std::string f = tmp / "MSDOS.SYS";
    WriteWholeFile(f, "x");
    EXPECT_EQ(FileGetAttr(f), FA_ARCHIVE) << "a plain file reads as archive only";
    ASSERT_TRUE(FileSetAttr(f, FA_READONLY | FA_ARCHIVE));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(FileGetAttr(f) & FA_READONLY, FA_READONLY);
    ASSERT_TRUE(FileSetAttr(f, FA_ARCHIVE));
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(FileGetAttr(f), FA_ARCHIVE);

    EXPECT_EQ(FileGetAttr(tmp / "missing"), -1);
    EXPECT_FALSE(FileSetAttr(tmp / "missing", FA_ARCHIVE));
    EXPECT_EQ(FileGetAttr(tmp.path.string()) & FA_DIRECTORY, FA_DIRECTORY);
}

TEST(PlatformFileAttr, HiddenAndSystemSurviveWhereTheFileSystemAllows)
{
    TempDir tmp;
    std::string f = tmp / "MSDOS.SYS";
    std::string g = tmp / "copy";
    WriteWholeFile(f, "x");
    WriteWholeFile(g, "y");
    ASSERT_TRUE(FileSetAttr(f, FA_READONLY | FA_HIDDEN | FA_SYSTEM));
    int a = FileGetAttr(f);
    if (!(a & FA_HIDDEN)) GTEST_SKIP() << "no user extended attributes here";
    EXPECT_EQ(a, FA_READONLY | FA_HIDDEN | FA_SYSTEM);
    ASSERT_TRUE(FileCopyAttr(f, g));
    EXPECT_EQ(FileGetAttr(g), FA_READONLY | FA_HIDDEN | FA_SYSTEM);
    // Archive only clears everything, as before a delete.
    ASSERT_TRUE(FileSetAttr(g, FA_ARCHIVE));
    EXPECT_EQ(FileGetAttr(g), FA_ARCHIVE);
}

TEST(PlatformSysInfo, FoldersFollowTheEnvironment)
{
    EnvGuard w("KVS_WINDOWS_DIR"), x("XDG_DATA_HOME"), p("KVS_PROGRAM_DIR");
    TempDir tmp;
    unsetenv("KVS_WINDOWS_DIR");
    setenv("XDG_DATA_HOME", tmp.path.c_str(), 1);
    EXPECT_EQ(SysWindowsDir(), tmp / "KelvaneStudio/drive_c/WINDOWS/");
    EXPECT_TRUE(std::filesystem::is_directory(tmp / "KelvaneStudio/drive_c/WINDOWS"));
    EXPECT_EQ(SysDriveRoot(), tmp / "KelvaneStudio/drive_c/");
    setenv("KVS_WINDOWS_DIR", (tmp / "win98//").c_str(), 1);
    EXPECT_EQ(SysWindowsDir(), tmp / "win98//");
    EXPECT_EQ(SysDriveRoot(), tmp.str());
    WriteWholeFile(tmp / "blocker", "");
    setenv("KVS_WINDOWS_DIR", (tmp / "blocker/WINDOWS").c_str(), 1);
    EXPECT_EQ(SysWindowsDir(), "") << "a folder that cannot be made gives empty text";

    unsetenv("KVS_PROGRAM_DIR");
    std::string exe = SysExePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(SysProgramDir(), exe.substr(0, exe.rfind('/') + 1)) << "the build folder is writable";
    setenv("KVS_PROGRAM_DIR", (tmp / "prog").c_str(), 1);
    EXPECT_EQ(SysProgramDir(), tmp / "prog/");
}

TEST(PlatformSysInfo, FiguresAndCommandLines)
{
    EXPECT_GT(SysMemTotal(), 0);
    EXPECT_GE(SysSwapTotal(), SysSwapFree());
    EXPECT_FALSE(SysVersionText().empty());
    int64_t freeBytes = 0, total = 0;
    EXPECT_TRUE(SysDiskSpace("/", freeBytes, total));
    EXPECT_GT(total, 0);
    EXPECT_LE(freeBytes, total);
    EXPECT_FALSE(SysDiskSpace("/no/such/path", freeBytes, total));
    EXPECT_EQ(SysSplitCommandLine("  a \"b c\"  d\"e f\" \"\" "),
              (std::vector<std::string>{"a", "b c", "de f", ""}));
}

TEST(PlatformSysInfo, ProcessesStartWaitAndFail)
{
    TempDir tmp;
    int code = -1;
    EXPECT_TRUE(SysStartProcess("/bin/sh", {"-c", "exit 3"}, "", true, &code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(SysStartProcess("sh", {"-c", "pwd > here"}, tmp.str(), true, &code));
    EXPECT_EQ(ReadWholeFile(tmp / "here"), tmp.path.string() + "\n");
    EXPECT_FALSE(SysStartProcess(tmp / "nothing", {}, "", true));
    EXPECT_FALSE(SysStartProcess(tmp / "nothing", {}, "", false)) << "a detached start still reports exec failure";
    EXPECT_FALSE(SysStartProcess("/bin/sh", {}, tmp / "nofolder", true));
    // Detached: returns before the child ends.
    EXPECT_TRUE(SysStartProcess("/bin/sh", {"-c", "sleep 0.2; touch done"}, tmp.str(), false));
    EXPECT_FALSE(std::filesystem::exists(tmp / "done"));
    for (int i = 0; i < 200 && !std::filesystem::exists(tmp / "done"); ++i) usleep(10000);
    EXPECT_TRUE(std::filesystem::exists(tmp / "done"));
    EXPECT_TRUE(SysIsExecutable("/bin/sh"));
    EXPECT_FALSE(SysIsExecutable(tmp.str()));
}

}  // namespace
