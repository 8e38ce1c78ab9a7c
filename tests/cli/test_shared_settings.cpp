// Programs that share one settings file: each save and each pick of the counters goes on from what
// the others wrote. The built kvs plays the other program; this test process plays the open window.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <string>

#include "core/LogoCommands.h"
#include "core/Settings.h"
#include "core/SettingsLock.h"
#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

class SharedSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetParams({"/opt/kvs/bin/kelvane-studio"});
        const fs::path store = env.root / "drive_c/Program Files/KvsLogos";
        fs::create_directories(store);
        for (int i = 0; i < 6; ++i)
            fs::copy_file(std::string(KVS_SOURCE_DIR) + "/data/samples/Samples--Tiles.png",
                          store / ("Pic" + std::to_string(i) + ".png"));
        for (const char* f : {"msg-startup.txt", "msg-wait.txt", "msg-turnoff.txt"})
            TempEnv::Write(env.prog + f, "a\r\n--\r\nb\r\n--\r\nc\r\n--\r\nd\r\n");
    }
    void TearDown() override { SetParams({}); }
    bool IniHas(const std::string& line) const
    {
        return TempEnv::Read(env.prog + "Kvs.ini").find("\r\n" + line + "\r\n") != std::string::npos;
    }
    TempEnv env;
};

}  // namespace

TEST_F(SharedSettings, ASaveKeepsWhatAnotherProgramSavedMeanwhile)
{
    LoadSettings();
    LoadMessages();
    ASSERT_EQ(RunProgram(env, "kvs", "settings DefPrefix Sea").status, 0);
    const RunResult change = RunProgram(env, "kvs", "change");
    ASSERT_EQ(change.status, 0) << change.err;
    ASSERT_TRUE(IniHas("Logo0Index=1") && IniHas("Msg0Index=1"));
    // Another copy of the program moved the store meanwhile.
    const std::string winIni = TempEnv::Read(env.win + "win.ini");
    const std::string storage = "Kvs-StorageDir=C:\\Program Files\\KvsLogos\\";
    ASSERT_NE(winIni.find(storage), std::string::npos) << winIni;
    TempEnv::Write(env.win + "win.ini", winIni.substr(0, winIni.find(storage)) + "Kvs-StorageDir=C:\\Pictures\\\r\n");

    // The window's Set as Logo picks on after the other program's pick, and says so at once.
    EXPECT_EQ(LogoProposedMessages()[0], "b");
    EXPECT_TRUE(IniHas("Msg0Index=2"));
    FontSize = 14;
    ASSERT_TRUE(SaveSettings());
    EXPECT_TRUE(IniHas("FontSize=14"));
    EXPECT_TRUE(IniHas("DefPrefix=Sea"));
    EXPECT_TRUE(IniHas("Logo0Index=1"));
    EXPECT_TRUE(IniHas("Msg0Index=2"));
    EXPECT_NE(TempEnv::Read(env.win + "win.ini").find("\r\nKvs-StorageDir=C:\\Pictures\\\r\n"), std::string::npos);
}

TEST_F(SharedSettings, SavesTakeTurns)
{
    // Ours holds the settings: the other program's save waits, then merges onto what we wrote.
    LoadSettings();
    ASSERT_TRUE(SettingsLockTake());
    const std::string cmd = "exec '" + std::string(KVS_BINARY_DIR) + "/kvs' settings DefPrefix Sea >/dev/null 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(IniHas("DefPrefix=Sea"));
    FontSize = 14;
    EXPECT_TRUE(SaveSettings());
    SettingsLockRelease();
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(IniHas("DefPrefix=Sea"));
    EXPECT_TRUE(IniHas("FontSize=14"));

    // A program that holds the settings past the wait: the save fails rather than write unlocked.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(env.prog.c_str(), O_RDONLY | O_DIRECTORY);
        flock(fd, LOCK_EX);
        (void)!write(ready[1], "x", 1);
        sleep(10);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    SettingsLockSetWait(100);
    FontSize = 16;
    EXPECT_FALSE(SaveSettings());
    SettingsLockSetWait(5000);
    kill(holder, SIGKILL);
    waitpid(holder, &status, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(IniHas("FontSize=14"));
}

TEST_F(SharedSettings, ParallelChangesEachAdvanceTheCounters)
{
    const int runs = 4;
    const std::string dir = env.root.string() + "/";
    const std::string cmd = "cd '" + dir + "' && export KVS_WINDOWS_DIR='" + env.win + "' KVS_PROGRAM_DIR='" +
                            env.prog + "'; for i in $(seq " + std::to_string(runs) + "); do ('" +
                            KVS_BINARY_DIR + "/kvs' change >out$i.txt 2>&1; echo $? >rc$i.txt) & done; wait";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (int i = 1; i <= runs; ++i)
        EXPECT_EQ(TempEnv::Read(dir + "rc" + std::to_string(i) + ".txt"), "0\n")
            << TempEnv::Read(dir + "out" + std::to_string(i) + ".txt");
    for (const char* key : {"Logo0Index=", "Logo1Index=", "Logo2Index=", "Msg0Index="})
        EXPECT_TRUE(IniHas(key + std::to_string(runs))) << TempEnv::Read(env.prog + "Kvs.ini");
}
