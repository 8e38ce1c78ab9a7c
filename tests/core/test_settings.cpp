#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Prefs.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "platform/ProfileFile.h"
#include "platform/Registry.h"
#include "support/SettingsKeys.h"
#include "support/TempEnv.h"

namespace {

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool RunValue(std::string& value)
{
    RegKey key;
    if (!RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, false, key)) return false;
    bool ok = RegQueryValueStr(key, "KelvaneStudio", value);
    RegCloseKey(key);
    return ok;
}

void SetRunValue(const std::string& value)
{
    RegKey key;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key));
    ASSERT_TRUE(RegSetValueStr(key, "KelvaneStudio", value));
    RegCloseKey(key);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetParams({"/opt/kvs/bin/kelvane-studio"}); }
    void TearDown() override { SetParams({}); }
    // Writes a settings file by hand (as a user or an older version would have left it).
    void WriteIni(const std::string& body) { TempEnv::Write(env.prog + "Kvs.ini", "[Main]\r\n" + body); }
    TempEnv env;
};

}  // namespace

TEST_F(SettingsTest, DefaultsWithoutAnyFile)
{
    LoadSettings();
    const std::string driveRoot = (env.root / "drive_c").string() + "/";
    EXPECT_EQ(GetStorageDir(), driveRoot + "Program Files/KvsLogos/");
    EXPECT_EQ(GetDefaultStorageDir(), GetStorageDir());
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), driveRoot + "logo.sys");
    EXPECT_EQ(GetLogoFileName(POS_WAIT), env.win + "logow.sys");
    EXPECT_EQ(GetLogoFileName(POS_TURNOFF), env.win + "logos.sys");
    EXPECT_EQ(GetProgramDir(), env.prog);
    EXPECT_EQ(GetBackupDir(), env.win + "logos.bak/");
    EXPECT_EQ(GalDir, "/");
    EXPECT_EQ(FileOpenDir, "/");
    EXPECT_EQ(DefPrefix, "MyPicture");
    EXPECT_EQ(ResizeMode, 0);
    EXPECT_TRUE(AutoChange);
    EXPECT_EQ(FontName, "Verdana");
    EXPECT_TRUE(FontBold);
    EXPECT_FALSE(FontItalic || FontUnderline || FontStrikeout);
    EXPECT_EQ(FontSize, 10);
    EXPECT_EQ(TextColor, 13172735);
    EXPECT_EQ(TextBorderColor, 0);
    EXPECT_TRUE(AnimEnabled);
    EXPECT_EQ(AnimShape, 1);
    EXPECT_EQ(AnimColor1, 16744448);
    EXPECT_EQ(AnimColor2, 6291456);
    EXPECT_TRUE(Msg0Enabled && Msg1Enabled && Msg2Enabled);
    // AutoChange on by default: the Run entry is written, upper-cased, without quotes.
    std::string run;
    ASSERT_TRUE(RunValue(run));
    EXPECT_EQ(run, "/OPT/KVS/BIN/KELVANE-STUDIO /CHANGE");
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrderWithCrLf)
{
    LoadSettings();
    Logo1Index = 5;
    SetStorageDir(env.win + "store");
    SaveSettings();
    std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    ASSERT_EQ(ini.rfind("[Main]\r\n", 0), 0u) << ini;
    // Each line ends with CR LF and the keys follow the save order exactly.
    std::vector<std::string> keys;
    size_t pos = 8;
    while (pos < ini.size()) {
        size_t end = ini.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "line without CR LF at " << pos;
        std::string line = ini.substr(pos, end - pos);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        keys.push_back(line.substr(0, line.find('=')));
        pos = end + 2;
    }
    ASSERT_EQ(keys.size(), std::size(kSaveOrder));
    for (size_t i = 0; i < keys.size(); i++) EXPECT_EQ(keys[i], kSaveOrder[i]);
    EXPECT_NE(ini.find("\r\nLogo1Index=5\r\n"), std::string::npos);
    EXPECT_NE(ini.find("\r\nAutoChange=1\r\n"), std::string::npos);
    EXPECT_NE(ini.find("\r\nFontItalic=0\r\n"), std::string::npos);

    std::string winIni = TempEnv::Read(env.win + "win.ini");
    EXPECT_NE(winIni.find("[Trelmark]\r\n"), std::string::npos) << winIni;
    EXPECT_NE(winIni.find("Kvs-Path=/opt/kvs/bin/kelvane-studio\r\n"), std::string::npos) << winIni;
    EXPECT_NE(winIni.find("Kvs-Ver=2.5.0\r\n"), std::string::npos);
    // Paths on the drive are written as Windows sees them.
    EXPECT_NE(winIni.find("Kvs-StorageDir=C:\\WINDOWS\\store\\\r\n"), std::string::npos) << winIni;
    EXPECT_NE(ini.find("\r\nLogoFile0=C:\\logo.sys\r\nLogoFile1=C:\\WINDOWS\\logow.sys\r\n"), std::string::npos) << ini;

    // What was saved comes back.
    ProfileDropCache();
    Logo1Index = 0;
    LoadSettings();
    EXPECT_EQ(Logo1Index, 5);
    EXPECT_EQ(GetStorageDir(), env.win + "store/");
}

TEST_F(SettingsTest, BooleansAreDecidedByTheirFirstCharacter)
{
    WriteIni("AutoChange=yes\r\nFontBold=0\r\nFontItalic=Yikes\r\nFontUnderline=t\r\nFontStrikeout=x\r\n"
             "AnimEnabled=no\r\nMsg0Enabled=on\r\nMsg1Enabled=False\r\nMsg2Enabled=\r\n");
    LoadSettings();
    EXPECT_TRUE(AutoChange);
    EXPECT_FALSE(FontBold);
    EXPECT_TRUE(FontItalic);     // 'Y'
    EXPECT_TRUE(FontUnderline);  // 'T'
    EXPECT_FALSE(FontStrikeout); // other letter: default false
    EXPECT_FALSE(AnimEnabled);
    EXPECT_TRUE(Msg0Enabled);    // "on": default true
    EXPECT_FALSE(Msg1Enabled);
    EXPECT_TRUE(Msg2Enabled);    // empty: default
}

TEST_F(SettingsTest, MalformedIntegersGiveTheDefaultOutOfRangeValuesAreKept)
{
    WriteIni("FontSize=12abc\r\nTextColor=0x10\r\nResizeMode=-3\r\nAnimShape=7\r\nLogo2Index=99999999999\r\n"
             "AnimDelay= 42 \r\n");
    LoadSettings();
    EXPECT_EQ(FontSize, 10);
    EXPECT_EQ(TextColor, 13172735);
    EXPECT_EQ(ResizeMode, -3);
    EXPECT_EQ(AnimShape, 7);
    EXPECT_EQ(Logo2Index, 0);
    EXPECT_EQ(AnimDelay, 42);
    SaveSettings();
    EXPECT_NE(TempEnv::Read(env.prog + "Kvs.ini").find("\r\nAnimShape=7\r\n"), std::string::npos);
    EXPECT_EQ(NearestItem(AnimShapeItems, 3, AnimShape), 2);
}

TEST_F(SettingsTest, StringsAreCleanedAfterLoading)
{
    WriteIni("DefPrefix=a:b--c\r\nGalDir=/home/u/gal\r\nFileOpenDir=\r\n");
    LoadSettings();
    EXPECT_EQ(DefPrefix, "a_bc");
    EXPECT_EQ(GalDir, "/home/u/gal/");
    EXPECT_EQ(FileOpenDir, "");  // present but empty: stays empty
}

TEST_F(SettingsTest, DrivePathsFollowTheDriveAndStayOnIt)
{
    const std::string root = (env.root / "drive_c").string() + "/";
    std::filesystem::create_directories(root + "PROGRA~1/KVS");
    TempEnv::Write(root + "LOGO.SYS", "x");
    WriteIni("LogoFile0=C:\\logo.sys\r\nLogoFile1=" + env.win + "Logow.sys\r\nLogoFile2=/mnt/w/LOGOS.SYS\r\n");
    TempEnv::Write(env.win + "WIN.INI", "[Trelmark]\r\nKvs-StorageDir=c:/progra~1/kvs\r\n");
    LoadSettings();
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), root + "LOGO.SYS");  // the existing spelling
    EXPECT_EQ(GetLogoFileName(POS_WAIT), env.win + "Logow.sys");  // an earlier version's host path
    EXPECT_EQ(GetLogoFileName(POS_TURNOFF), GetDefaultLogoFileName(POS_TURNOFF));  // off the drive
    EXPECT_EQ(GetStorageDir(), root + "PROGRA~1/KVS/");

    // Another drive: the same settings name its files.
    const std::string other = (env.root / "other").string() + "/";
    std::filesystem::create_directories(other + "windows");
    setenv("KVS_WINDOWS_DIR", (other + "windows").c_str(), 1);
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), other + "logo.sys");
    EXPECT_EQ(GetLogoFileName(POS_WAIT), other + "windows/Logow.sys");
    EXPECT_EQ(GetStorageDir(), other + "PROGRA~1/KVS/");
    setenv("KVS_WINDOWS_DIR", env.win.c_str(), 1);

    // What the drive's win.ini names off the drive, or on another, is not used.
    for (const std::string& hostile : {env.prog, std::string("D:\\Pictures\\"), std::string("C:\\..\\..\\x\\"),
                                       std::string("relative/dir")}) {
        ProfileDropCache();
        TempEnv::Write(env.win + "WIN.INI", "[Trelmark]\r\nKvs-StorageDir=" + hostile + "\r\n");
        LoadSettings();
        EXPECT_EQ(GetStorageDir(), GetDefaultStorageDir()) << hostile;
    }
}

TEST_F(SettingsTest, StorageFolderFromInstallInformation)
{
    TempEnv::Write(env.win + "win.ini", "[Trelmark]\r\nKvs-StorageDir=C:\\data\\logos\r\n");
    LoadSettings();
    EXPECT_EQ(GetStorageDir(), (env.root / "drive_c").string() + "/data/logos/");
    SetStorageDir("/other");
    EXPECT_EQ(GetStorageDir(), "/other/");
    // An empty folder falls back to the default rather than the current folder.
    SetStorageDir("");
    EXPECT_EQ(GetStorageDir(), GetDefaultStorageDir());
}

TEST_F(SettingsTest, TurningAutoChangeOffRemovesOnlyOurRunValue)
{
    // Another copy of the program owns the Run value: left alone.
    SetRunValue("/OTHER/KELVANE-STUDIO /CHANGE");
    WriteIni("AutoChange=0\r\n");
    LoadSettings();
    std::string run;
    ASSERT_TRUE(RunValue(run));
    EXPECT_EQ(run, "/OTHER/KELVANE-STUDIO /CHANGE");
    // Ours, in any letter case: removed.
    SetRunValue("/opt/KVS/bin/Kelvane-Studio /change");
    SetAutoChangeRunEntry(false);
    EXPECT_FALSE(RunValue(run));
    SetAutoChangeRunEntry(true);
    ASSERT_TRUE(RunValue(run));
    EXPECT_EQ(run, Upper("/opt/kvs/bin/kelvane-studio /change"));
}

TEST_F(SettingsTest, PositionAccessors)
{
    LoadSettings();
    EXPECT_EQ(GetLogoFileName(3), "");
    EXPECT_EQ(GetMessageText(0), "");
    SetLogoFileName(8, "/x");
    SetMessageText(5, "x");
    SetLogoFileName(POS_TURNOFF, "  /mnt/c/windows/logos.sys \t");
    EXPECT_EQ(GetLogoFileName(POS_TURNOFF), "/mnt/c/windows/logos.sys");
    EXPECT_EQ(MsgIndexOf(POS_WAIT), &Msg1Index);
    EXPECT_EQ(LogoIndexOf(POS_TURNOFF), &Logo2Index);
    EXPECT_EQ(MsgEnabledOf(POS_STARTUP), &Msg0Enabled);
    EXPECT_EQ(LogoIndexOf(3), nullptr);
    EXPECT_EQ(PosIndex(7), -1);
}

TEST_F(SettingsTest, MessagesSurviveWriteAndRead)
{
    LoadSettings();
    const std::string text = "Line one\r\nLine two\r\n--\r\nSecond";
    SetMessageText(POS_WAIT, text);
    SetMessageText(POS_STARTUP, "");
    SetMessageText(POS_TURNOFF, "Bye");
    SaveMessages();
    EXPECT_EQ(TempEnv::Read(env.prog + "msg-wait.txt"), text + "\r\n");
    EXPECT_EQ(TempEnv::Read(env.prog + "msg-startup.txt"), "\r\n");
    SetMessageText(POS_WAIT, "changed");
    LoadMessages();
    EXPECT_EQ(GetMessageText(POS_WAIT), text);
    EXPECT_EQ(GetMessageText(POS_STARTUP), "");
    EXPECT_EQ(GetMessageText(POS_TURNOFF), "Bye");
    // A file with LF line ends reads back joined with CR LF.
    TempEnv::Write(env.prog + "msg-turnoff.txt", "a\nb\n");
    LoadMessages();
    EXPECT_EQ(GetMessageText(POS_TURNOFF), "a\r\nb");
}

TEST_F(SettingsTest, ShippedMessagesAreCopiedWhenMissing)
{
    LoadSettings();
    LoadMessages();
    // The test runs from the build folder, where the shipped files lie in data/.
    const std::string shipped = TempEnv::Read(std::string(KVS_BINARY_DIR) + "/data/msg-startup.txt");
    ASSERT_FALSE(shipped.empty());
    EXPECT_EQ(TempEnv::Read(env.prog + "msg-startup.txt"), shipped);
    EXPECT_EQ(GetMessageText(POS_STARTUP) + "\r\n", shipped);
    EXPECT_NE(GetMessageText(POS_TURNOFF).find("\r\n--\r\n"), std::string::npos);
    // A file the user left is not replaced.
    TempEnv::Write(env.prog + "msg-wait.txt", "Mine\r\n");
    LoadMessages();
    EXPECT_EQ(GetMessageText(POS_WAIT), "Mine");
}

TEST_F(SettingsTest, SetValueReadsLikeTheLoader)
{
    LoadSettings();
    EXPECT_TRUE(SettingsSetValue("autochange", "No"));
    EXPECT_FALSE(AutoChange);
    EXPECT_TRUE(SettingsSetValue("FontSize", "abc"));
    EXPECT_EQ(FontSize, 10);
    EXPECT_TRUE(SettingsSetValue("FontSize", "14"));
    EXPECT_EQ(FontSize, 14);
    EXPECT_TRUE(SettingsSetValue("DefPrefix", "x:y--z"));
    EXPECT_EQ(DefPrefix, "x_yz");
    EXPECT_TRUE(SettingsSetValue("GalDir", "/g"));
    EXPECT_EQ(GalDir, "/g/");
    EXPECT_TRUE(SettingsSetValue("LogoFile0", "C:\\l.sys"));
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), (env.root / "drive_c").string() + "/l.sys");
    EXPECT_TRUE(SettingsSetValue("LogoFile0", "/l.sys"));  // off the drive, as the loader drops it
    EXPECT_EQ(GetLogoFileName(POS_STARTUP), GetDefaultLogoFileName(POS_STARTUP));
    EXPECT_FALSE(SettingsSetValue("Kvs-StorageDir", "/x"));
    std::vector<SettingsPair> list = SettingsList();
    ASSERT_EQ(list.size(), std::size(kSaveOrder));
    EXPECT_EQ(list[13].key, "FontSize");
    EXPECT_EQ(list[13].value, "14");
    EXPECT_EQ(list[7].value, "0");
}

TEST(SettingsTables, NearestItem)
{
    EXPECT_EQ(NearestItem(AnimShapeItems, 3, -5), 0);
    EXPECT_EQ(NearestItem(AnimShapeItems, 3, 1), 1);
    EXPECT_EQ(NearestItem(AnimMoveItems, 2, 9), 1);
    const SettingsItem gap[] = {{"a", 0}, {"b", 2}};
    EXPECT_EQ(NearestItem(gap, 2, 1), 0);  // tie: the first
}

TEST_F(SettingsTest, WriteFailuresAreNotReported)
{
    // A program folder that cannot exist: a file stands where its parent should be.
    TempEnv::Write(env.prog + "blocker", "x");
    setenv("KVS_PROGRAM_DIR", (env.prog + "blocker/sub/").c_str(), 1);
    LoadSettings();
    SetMessageText(POS_STARTUP, "Hello");
    EXPECT_NO_THROW(SaveSettings());
    EXPECT_NO_THROW(SaveMessages());
    EXPECT_NO_THROW(LoadMessages());
    EXPECT_EQ(GetMessageText(POS_STARTUP), "");
    // No temporary file is left behind anywhere we could write.
    for (const auto& e : std::filesystem::recursive_directory_iterator(env.root))
        EXPECT_EQ(e.path().string().find(".tmp~"), std::string::npos) << e.path();
    setenv("KVS_PROGRAM_DIR", env.prog.c_str(), 1);
}

TEST_F(SettingsTest, ACounterMovedButNotYetSavedIsNeverReadBackFromTheFile)
{
    // A pick made while the settings were held elsewhere moved the counter in memory only; the next
    // pick must go on from there, and another program's counter that this one never moved is taken.
    WriteIni("Msg0Index=3\r\nMsg1Index=4\r\n");
    LoadSettings();
    Msg0Index = 7;
    WriteIni("Msg0Index=3\r\nMsg1Index=9\r\n");
    ASSERT_TRUE(SettingsAdvanceCounters([] { Msg0Index++; }));
    EXPECT_EQ(Msg0Index, 8);
    EXPECT_EQ(Msg1Index, 9);
    LoadSettings();
    EXPECT_EQ(Msg0Index, 8) << "the advanced counter was saved";
}
