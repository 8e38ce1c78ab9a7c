// What a drive's own files and links may make kvs do: folders a link takes off the drive are not
// used, restore.bat lines as a person writes them are carried out, and a command that fails on
// its input moves nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/Settings.h"
#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class DriveRules : public ::testing::Test {
protected:
    TempEnv env;
    std::string drive, store, outside;
    void SetUp() override
    {
        drive = env.root.string() + "/drive_c/";
        store = drive + "Program Files/KvsLogos/";
        outside = env.root.string() + "/outside/";
        fs::create_directories(outside);
    }
    RunResult Kvs(const std::string& args) { return RunProgram(env, "kvs", args); }
    void AddPicture()
    {
        const std::string bmp = env.root.string() + "/Dawn.bmp";
        std::string head("BM\x46\0\0\0\0\0\0\0\x36\0\0\0" "\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0"
                         "\0\0\0\0\x10\0\0\0",
                         38);
        TempEnv::Write(bmp, head + std::string(16, '\0') + std::string(6, 'd') + std::string(2, '\0') +
                                std::string(6, 'd') + std::string(2, '\0'));
        ASSERT_EQ(Kvs("add --prefix Sea --clash overwrite '" + bmp + "'").status, 0);
    }
};

}  // namespace

TEST_F(DriveRules, FoldersALinkTakesOffTheDriveAreNotUsed)
{
    // The default storage folder is such a link: nothing there is read as ours, written or deleted.
    fs::create_directories(drive + "Program Files");
    TempEnv::Write(outside + "Mine--Keep.png", "not ours");
    fs::create_directory_symlink(outside, drive + "Program Files/KvsLogos");
    for (const char* command : {"--yes uninst", "delete Mine--Keep", "rename Mine--Keep Other"}) {
        const RunResult r = Kvs(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(Has(r.err, "off the drive")) << command << ": " << r.err;
        EXPECT_EQ(r.out, "") << command;
    }
    EXPECT_EQ(TempEnv::Read(outside + "Mine--Keep.png"), "not ours");
    EXPECT_EQ(fs::directory_iterator(outside)->path().filename(), "Mine--Keep.png");
    fs::remove(drive + "Program Files/KvsLogos");

    // A backup folder off the drive could not be restored from: the logo is not replaced.
    AddPicture();
    const std::string backups = env.root.string() + "/backups/";
    fs::create_directories(backups);
    fs::create_directory_symlink(backups, env.win + "logos.bak");
    TempEnv::Write(drive + "logo.sys", "old startup");
    RunResult r = Kvs("set Sea--Dawn --startup");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(TempEnv::Read(drive + "logo.sys"), "old startup");
    EXPECT_TRUE(fs::is_empty(backups));
    TempEnv::Write(backups + "restore.bat", "del C:\\logo.sys\r\n");
    r = Kvs("--yes restore");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "off the drive")) << r.err;
    EXPECT_EQ(TempEnv::Read(drive + "logo.sys"), "old startup");
}

TEST_F(DriveRules, PlainDosRestoreLinesAreCarriedOutAndEveryOtherLineIsReported)
{
    const std::string bak = env.win + "logos.bak/";
    fs::create_directories(bak);
    TempEnv::Write(bak + "LOGO1.BMP", "first wait");
    TempEnv::Write(env.win + "logow.sys", "built wait");
    TempEnv::Write(drive + "logo.sys", "built startup");
    TempEnv::Write(env.win + "logos.sys", "built off");
    TempEnv::Write(bak + "restore.bat", "@echo off\r\n"
                                        "REM edited by hand\r\n"
                                        "copy C:\\WINDOWS\\logos.bak\\logo1.bmp C:\\WINDOWS\\logow.sys\r\n"
                                        "del c:\\logo.sys\r\n"
                                        "deltree /y C:\\WINDOWS\\logos.sys\r\n"
                                        "copy C:\\WINDOWS\\logos.bak\\logo1.bmp\r\n");
    const RunResult r = Kvs("--yes restore");
    EXPECT_EQ(TempEnv::Read(env.win + "logow.sys"), "first wait");
    EXPECT_FALSE(fs::exists(drive + "logo.sys"));
    EXPECT_EQ(TempEnv::Read(env.win + "logos.sys"), "built off");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, "deltree /y C:\\WINDOWS\\logos.sys")) << r.err;
    EXPECT_TRUE(Has(r.err, "copy C:\\WINDOWS\\logos.bak\\logo1.bmp\n")) << r.err;
    EXPECT_FALSE(Has(r.err, "echo")) << r.err;
    EXPECT_FALSE(Has(r.err, "REM")) << r.err;
}

TEST_F(DriveRules, SettingAnImageThatIsNotStoredMovesNoCounter)
{
    AddPicture();
    ASSERT_EQ(Kvs("settings MsgPickMethod 0").status, 0);
    const std::string settings = TempEnv::Read(env.prog + "Kvs.ini");
    const RunResult r = Kvs("set NoSuchImage --startup");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No image named \"NoSuchImage\" in the store.\n");
    EXPECT_EQ(TempEnv::Read(env.prog + "Kvs.ini"), settings);
    // The same set of a stored image moves them.
    ASSERT_EQ(Kvs("set Sea--Dawn --startup").status, 0);
    EXPECT_NE(TempEnv::Read(env.prog + "Kvs.ini"), settings);
}

TEST_F(DriveRules, WithoutDisplayOrMtoolsTheProgramsSayWhatIsMissing)
{
    const std::string bin = std::string(KVS_BINARY_DIR) + "/";
    const std::string out = env.root.string() + "/out.txt", err = env.root.string() + "/err.txt";
    auto run = [&](const std::string& command) {
        const int raw = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command + " >'" + out +
                                     "' 2>'" + err + "' </dev/null")
                                        .c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    // Answered without opening a window, so a terminal is not blocked.
    EXPECT_EQ(run("timeout 20 '" + bin + "kelvane-studio' --version"), 0);
    EXPECT_EQ(TempEnv::Read(out), std::string("kelvane-studio ") + APP_VERSION + "\n");
    EXPECT_EQ(run("timeout 20 '" + bin + "kelvane-studio' --help"), 0);
    EXPECT_TRUE(Has(TempEnv::Read(out), "Usage: kelvane-studio")) << TempEnv::Read(out);
    EXPECT_EQ(run("timeout 20 '" + bin + "kelvane-studio'"), 1);
    EXPECT_TRUE(Has(TempEnv::Read(err), "xvfb-run kelvane-studio")) << TempEnv::Read(err);
    EXPECT_FALSE(Has(TempEnv::Read(err), "scripts/")) << TempEnv::Read(err);

    // Whatever the image holds, without mtools it cannot be read: that is what is said.
    TempEnv::Write(env.root.string() + "/disk.img", std::string(64 * 1024, '\0'));
    EXPECT_EQ(run("PATH=/nonexistent '" + bin + "kvs' --drive '" + env.root.string() + "/disk.img' list"), 1);
    EXPECT_TRUE(Has(TempEnv::Read(err), "mtools, which is not installed")) << TempEnv::Read(err);
}
