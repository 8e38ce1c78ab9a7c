#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/SafeFile.h"
#include "core/Backup.h"
#include "core/LogoCommands.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader =
    "REM --------------------------------------------\r\n"
    "REM  Run this file to restore previous logos.\r\n"
    "REM --------------------------------------------\r\n"
    "\r\n";

class BackupTest : public ::testing::Test {
protected:
    TempEnv env;
    std::string bak, bat, startup, wait, turnoff;
    void SetUp() override
    {
        bak = GetBackupDir();
        bat = bak + "restore.bat";
        startup = env.root.string() + "/drive_c/logo.sys";
        wait = env.win + "logow.sys";
        turnoff = env.win + "logos.sys";
    }
};

}  // namespace

TEST_F(BackupTest, FirstBuildOfExistingLogoKeepsCopyAndOneLine)
{
    EXPECT_EQ(bak, env.win + "logos.bak/");
    TempEnv::Write(wait, "old wait logo");
    ASSERT_TRUE(BackupLogoFile("  " + wait + " "));
    EXPECT_EQ(TempEnv::Read(bak + "logo1.bmp"), "old wait logo");
    const std::string expected = kHeader + "copy \"C:\\WINDOWS\\logos.bak\\logo1.bmp\" \"C:\\WINDOWS\\logow.sys\"\r\n";
    EXPECT_EQ(TempEnv::Read(bat), expected);

    // A second build records nothing and copies nothing, even with other letter case.
    TempEnv::Write(wait, "new wait logo");
    ASSERT_TRUE(BackupLogoFile(wait));
    EXPECT_FALSE(fs::exists(bak + "logo2.bmp"));
    EXPECT_EQ(TempEnv::Read(bat), expected);
    EXPECT_FALSE(AppendRestoreLine(bat, wait, "anything"));
    EXPECT_EQ(TempEnv::Read(bat), expected);
    for (const auto& e : fs::directory_iterator(fs::path(bat).parent_path()))
        EXPECT_FALSE(SafeIsTempName(e.path().filename().string())) << e.path();
}

TEST_F(BackupTest, MissingLogoGetsDelLineAndEmptyPathIsRefused)
{
    EXPECT_FALSE(BackupLogoFile("   "));
    EXPECT_FALSE(BackupLogoFile(env.win + "odd\"name.sys"));
    EXPECT_FALSE(fs::exists(bat));
    ASSERT_TRUE(BackupLogoFile(turnoff));
    EXPECT_EQ(TempEnv::Read(bat), kHeader + "del  \"C:\\WINDOWS\\logos.sys\"\r\n");
    EXPECT_FALSE(fs::exists(bak + "logo1.bmp"));
}

TEST_F(BackupTest, RestoreBringsBackOldFilesAndDeletesNewOnes)
{
    TempEnv::Write(startup, "old startup");
    TempEnv::Write(wait, "old wait");
    ASSERT_TRUE(BackupLogoFile(startup));
    ASSERT_TRUE(BackupLogoFile(wait));
    ASSERT_TRUE(BackupLogoFile(turnoff));
    EXPECT_EQ(TempEnv::Read(bak + "logo2.bmp"), "old wait");
    TempEnv::Write(startup, "built");
    TempEnv::Write(wait, "built");
    TempEnv::Write(turnoff, "built");

    RestoreLogos();
    EXPECT_EQ(TempEnv::Read(startup), "old startup");
    EXPECT_EQ(TempEnv::Read(wait), "old wait");
    EXPECT_FALSE(fs::exists(turnoff));
    // The restore file and the copies stay for a later restore.
    EXPECT_TRUE(fs::exists(bat));
    EXPECT_TRUE(fs::exists(bak + "logo1.bmp"));
}

TEST_F(BackupTest, RecordedMeansTheWholeQuotedPath)
{
    // A recorded path that merely ends with this logo's path is another file.
    const std::string shorter = env.root.string() + "/drive_c/x/logow.sys";
    const std::string longer = env.root.string() + "/drive_c/deep/x/logow.sys";
    fs::create_directories(fs::path(shorter).parent_path());
    fs::create_directories(fs::path(longer).parent_path());
    TempEnv::Write(longer, "x");
    ASSERT_TRUE(BackupLogoFile(longer));
    TempEnv::Write(shorter, "precious");
    ASSERT_TRUE(BackupLogoFile(shorter));
    EXPECT_EQ(TempEnv::Read(bak + "logo2.bmp"), "precious");
}

TEST_F(BackupTest, HandEditedAndJunkLinesAreHandledSafely)
{
    TempEnv::Write(wait, "current");
    TempEnv::Write(turnoff, "keep me");
    fs::create_directories(bak);
    TempEnv::Write(bak + "old.bmp", "old");
    TempEnv::Write(bat, "REM x\r\n"
                        "copy \"" + bak + "old.bmp\"\r\n"              // one quoted path: skipped
                        "copy \"" + bak + "old.bmp\" \"\"\r\n"         // empty target: skipped
                        "del\r\n"
                        "DEL \"\r\n"
                        "del \"\"\r\n"
                        "del \"" + bak + "\"\r\n"                      // a folder is never deleted
                        "\"\"\"\"\"\"\r\n"
                        "copy\"\r\n"
                        "\x01\x02\xff garbage \"\"\r\n"
                        "COPY  \" " + bak + "old.bmp \"  \" " + wait + " \"");  // blanks inside quotes, no line end
    RestoreLogos();
    EXPECT_EQ(TempEnv::Read(wait), "old");
    EXPECT_EQ(TempEnv::Read(turnoff), "keep me");
    EXPECT_TRUE(fs::is_directory(bak));

    // Appending to a file without a final line end starts a new line.
    ASSERT_TRUE(AppendRestoreLine(bat, turnoff, "del  \"" + turnoff + "\""));
    const std::string text = TempEnv::Read(bat);
    EXPECT_NE(text.find(" \"\r\ndel  \"" + turnoff + "\"\r\n"), std::string::npos);
}

TEST_F(BackupTest, AnOlderBackupAndAFailedCopyLoseNothing)
{
    // An older run's backup, spelt in upper case as DOS leaves it, is the same name on the drive.
    fs::create_directories(bak);
    TempEnv::Write(bak + "LOGO1.BMP", "older original");
    // A logo too large to copy: no restore line may name a backup that was never made.
    TempEnv::Write(wait, "old wait logo");
    fs::resize_file(wait, 17 << 20);
    EXPECT_FALSE(BackupLogoFile(wait));
    EXPECT_EQ(TempEnv::Read(bat).find("logow.sys"), std::string::npos) << TempEnv::Read(bat);

    // So the next change still backs the logo up, beside the older copy.
    TempEnv::Write(wait, "old wait logo");
    ASSERT_TRUE(BackupLogoFile(wait));
    EXPECT_EQ(TempEnv::Read(bak + "LOGO1.BMP"), "older original");
    EXPECT_EQ(TempEnv::Read(bak + "logo2.bmp"), "old wait logo");
    EXPECT_EQ(TempEnv::Read(bat), kHeader + "copy \"C:\\WINDOWS\\logos.bak\\logo2.bmp\" \"C:\\WINDOWS\\logow.sys\"\r\n");
}

TEST(Backup, QuotedFieldAndNextBackupName)
{
    EXPECT_EQ(QuotedField("copy \"a b\" \"c\"", 1), "a b");
    EXPECT_EQ(QuotedField("copy \"a b\" \"c\"", 2), "c");
    EXPECT_EQ(QuotedField("copy \"a b\" \"c\"", 3), "");
    EXPECT_EQ(QuotedField("copy \"a b", 1), "");
    EXPECT_EQ(QuotedField("\"\"", 1), "");
    EXPECT_EQ(QuotedField("x\"1\"y\"2", 2), "");
    EXPECT_EQ(QuotedField("", 0), "");

    TempEnv env;
    const std::string dir = env.win + "b";
    fs::create_directories(dir);
    EXPECT_EQ(NextBackupName(dir), dir + "/logo1.bmp");
    TempEnv::Write(dir + "/logo1.bmp", "");
    TempEnv::Write(dir + "/logo3.bmp", "");
    EXPECT_EQ(NextBackupName(dir + "/"), dir + "/logo2.bmp");
}

TEST_F(BackupTest, UninstallAsksAndDeletesOnlyOnYes)
{
    const std::string store = env.root.string() + "/store/";
    fs::create_directories(store);
    SetStorageDir(store);
    TempEnv::Write(store + "a.png", "a");
    TempEnv::Write(store + "b.png", "b");
    TempEnv::Write(wait, "old");
    ASSERT_TRUE(BackupLogoFile(wait));
    TempEnv::Write(wait, "new");
    ImageListFree(Images);
    Images = ImageListCreate();
    RefreshImageList(Images, store);
    WriteImageIndex(Images, store);

    {
        ScriptedUi ui;
        ui.answers.push_back("N");
        LogoUninstall(Answers());
        ASSERT_EQ(ui.Count("yesno"), 1);
        EXPECT_EQ(ui.log[0].text, UNINSTALL_QUESTION);
        EXPECT_EQ(ui.log[0].defaultButton, 2);
    }
    EXPECT_EQ(TempEnv::Read(wait), "old");
    EXPECT_TRUE(fs::exists(store + "a.png"));
    EXPECT_TRUE(fs::exists(store + "headers.dat"));

    // Without a loaded list the store is read first, so the images go and not only the index.
    ImageListFree(Images);
    {
        ScriptedUi ui;
        ui.answers.push_back("Y");
        LogoUninstall(Answers());
    }
    EXPECT_FALSE(fs::exists(store + "a.png"));
    EXPECT_FALSE(fs::exists(store + "b.png"));
    EXPECT_FALSE(fs::exists(store + "headers.dat"));
    EXPECT_TRUE(fs::is_directory(store));
    EXPECT_TRUE(fs::exists(bat));
    ImageListFree(Images);
}

TEST_F(BackupTest, RestoreCommandAsksFirst)
{
    TempEnv::Write(wait, "old");
    ASSERT_TRUE(BackupLogoFile(wait));
    TempEnv::Write(wait, "new");
    {
        ScriptedUi ui;
        ui.answers.push_back("N");
        EXPECT_TRUE(LogoRestore(Answers()).Declined);
        EXPECT_EQ(ui.log[0].defaultButton, 1);
        EXPECT_EQ(ui.Count("info"), 0);
    }
    EXPECT_EQ(TempEnv::Read(wait), "new");
    ScriptedUi ui;
    const Outcome done = LogoRestore(Answers());
    OutcomeShow(done);
    EXPECT_TRUE(OutcomeOk(done));
    EXPECT_EQ(ui.Last("yesno"), "Do you want to restore previous logos?");
    EXPECT_EQ(ui.Last("info"), "Previous logos restored.");
    EXPECT_EQ(TempEnv::Read(wait), "old");
}
