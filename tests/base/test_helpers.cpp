#include "base/Basic.h"
#include "base/CharSet.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "platform/WinUtils.h"
#include "platform/ProfileFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(MiscText, AddBSAndForceFileExt)
{
    EXPECT_EQ(AddBS("/c/Windows"), "/c/Windows/");
    EXPECT_EQ(AddBS("/c/Windows/"), "/c/Windows/");
    EXPECT_EQ(AddBS(""), "");
    EXPECT_EQ(ForceFileExt("Gallery.gal", ""), "Gallery");
    EXPECT_EQ(ForceFileExt("photo", "png"), "photo.png");
    EXPECT_EQ(ForceFileExt("a.b.c", ".txt"), "a.b.txt");
    EXPECT_EQ(ForceFileExt("/dir.v2/photo", "png"), "/dir.v2/photo.png") << "a dot in a folder is no extension";
}

TEST(MiscText, SameTextFoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(SameText("HKEY_Local_Machine\\Software", "hkey_local_machine\\SOFTWARE"));
    EXPECT_FALSE(SameText("Logo", "Logos"));
    EXPECT_FALSE(SameText("[", "{")) << "only a-z fold, not the bytes 32 above other characters";
    EXPECT_FALSE(SameText("\xE9", "\xC9")) << "8-bit letters compare as they are";
}

TEST(MiscText, AnsiToUtf8UsesCodePage1252)
{
    EXPECT_EQ(AnsiToUtf8("plain"), "plain");
    EXPECT_EQ(AnsiToUtf8("\x80 \x99"), "\xE2\x82\xAC \xE2\x84\xA2");  // euro, trade mark
    EXPECT_EQ(AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");                    // Latin-1 half as it is
    EXPECT_EQ(AnsiToUtf8("\x81"), "\xEF\xBF\xBD");                      // a hole of the code page
    EXPECT_EQ(AnsiCodePoint(0x9F), 0x0178u);
    EXPECT_EQ(AnsiCodePoint(0xFF), 0x00FFu);
}

TEST(MiscText, ReplaceStrPosFromHexToInt)
{
    EXPECT_EQ(ReplaceStr("a/b/c", "/", "_"), "a_b_c");
    EXPECT_EQ(ReplaceStr("a/b/c", "a", "aa"), "");
    EXPECT_EQ(ReplaceStr("xyz", "q", "qq"), "") << "new holding old gives empty text even without a match";
    EXPECT_EQ(ReplaceStr("abc", "", "x"), "abc");
    // Rescanning from the start: a replacement can build a new occurrence before it.
    EXPECT_EQ(ReplaceStr("aabb", "ab", "b"), "bb");
    EXPECT_EQ(ReplaceStr("----", "--", "-"), "-");

    EXPECT_EQ(PosFrom("|", "a|", 1), 2);
    EXPECT_EQ(PosFrom("|", "a|", 3), 0);
    EXPECT_EQ(PosFrom("|", "|a|", 2), 3);
    EXPECT_EQ(PosFrom("", "abc", 1), 0);
    EXPECT_EQ(PosFrom("a", "", 1), 0);
    EXPECT_EQ(PosFrom("a", "abc", -5), 1);

    EXPECT_EQ(HexToInt("FF", -1), 255);
    EXPECT_EQ(HexToInt("ff", -1), 255);
    EXPECT_EQ(HexToInt("1G", -1), -1);
    EXPECT_EQ(HexToInt("", -1), -1);
    EXPECT_EQ(HexToInt(" 1", -1), -1);
    EXPECT_EQ(HexToInt("FFFFFFFF", 0), -1);
    EXPECT_EQ(HexToInt("1FFFFFFFF", 0), -1) << "32-bit wrap";
    EXPECT_EQ(HexToInt("C8FFFF", 0), 13172735);
    EXPECT_EQ(SwapRB(0x11223344u), 0x11443322u);
}

TEST(MiscNumbers, FileSizeTextsAndDivisibleFloat)
{
    EXPECT_EQ(GetFileSizeStr(0), "0.0 kB");
    EXPECT_EQ(GetFileSizeStr(512), "0.5 kB");
    EXPECT_EQ(GetFileSizeStr(180000), "175.8 kB");
    EXPECT_EQ(GetFileSizeStr(1048576), "1024.0 kB");
    EXPECT_EQ(GetFileSizeStr(1048577), "1.0 MB");
    EXPECT_EQ(GetFileSizeStr(3.5 * 1073741824.0), "3.5 GB");
    EXPECT_EQ(GetFileSizeStr(2.0 * 1099511627776.0), "2.0 TB");
    EXPECT_DOUBLE_EQ(DivisibleFloat(26, 5), 25);
    EXPECT_DOUBLE_EQ(DivisibleFloat(-7, 5), -5);
    EXPECT_DOUBLE_EQ(DivisibleFloat(7, 0), 7);
}

TEST(MiscNumbers, SecToStr)
{
    EXPECT_EQ(SecToStr(23, 3725), "01:02:05");
    EXPECT_EQ(SecToStr(0, 65.25), "01:05.250");
    EXPECT_EQ(SecToStr(0, 0.5), "0.500");
    EXPECT_EQ(SecToStr(0, 0), "");
    EXPECT_EQ(SecToStr(0, 3600), "01:00:00") << "shown hours force minutes and seconds";
    EXPECT_EQ(SecToStr(4, 0), "00");
    EXPECT_EQ(SecToStr(8, 2), "02.000");
    EXPECT_EQ(SecToStr(16, 0.75), "");
    EXPECT_EQ(SecToStr(0, 1.001), "01.001");
    EXPECT_EQ(SecToStr(0, -5), "") << "negative times show as zero";
    std::string text = "old";
    SecToStr(0, text, 61);
    EXPECT_EQ(text, "01:01");
}

TEST(MiscNumbers, CalcBoxResize)
{
    int x, y, w, h;
    CalcBoxResize(320, 400, 533, 400, false, x, y, w, h);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{106, 0, 320, 400}));
    CalcBoxResize(800, 600, 400, 400, false, x, y, w, h);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{0, 50, 400, 300}));
    CalcBoxResize(100, 100, 400, 200, true, x, y, w, h);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{100, 0, 200, 200}));
    CalcBoxResize(10000, 1, 320, 400, false, x, y, w, h);
    EXPECT_EQ((std::vector<int>{w, h}), (std::vector<int>{320, 1})) << "a size below 1 becomes 1";
    CalcBoxResize(0, 0, 320, 400, true, x, y, w, h);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{0, 0, 320, 400}));
    CalcBoxResize(50, 50, 0, 400, true, x, y, w, h);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{0, 0, 0, 400}));
}

class MiscFiles : public ::testing::Test {
protected:
    TempDir tmp;
    void SetUp() override
    {
        setenv("KVS_WINDOWS_DIR", (tmp / "c/WINDOWS").c_str(), 1);
        setenv("KVS_PROGRAM_DIR", (tmp / "prog").c_str(), 1);
        ProfileDropCache();
    }
    void TearDown() override { ProfileDropCache(); }
};

TEST_F(MiscFiles, GetFileSizeOfNamesAndPatterns)
{
    WriteWholeFile(tmp / "one.PNG", std::string(1234, 'x'));
    WriteWholeFile(tmp / "two.txt", "ab");
    EXPECT_EQ(GetFileSize(tmp / "one.PNG"), 1234);
    EXPECT_EQ(GetFileSize(tmp / "missing.png"), Undef);
    EXPECT_EQ(GetFileSize(tmp / "nofolder/x"), Undef);
    EXPECT_EQ(GetFileSize(""), Undef);
    EXPECT_EQ(GetFileSize(tmp / "*.png"), 1234) << "patterns ignore letter case";
    EXPECT_EQ(GetFileSize(tmp / "tw?.*"), 2);
    EXPECT_EQ(GetFileSize(tmp / "*.gif"), Undef);
    EXPECT_EQ(GetFileSize(tmp / "ONE.png"), 1234);
}

TEST_F(MiscFiles, TextFilesRoundTripAndFailQuietly)
{
    std::string name = tmp / "msg.txt";
    StrToFile(name, "line 1\r\nline 2", false);
    EXPECT_TRUE(MonOK());
    EXPECT_EQ(ReadWholeFile(name), "line 1\r\nline 2\r\n");
    EXPECT_EQ(FileToStr(name), "line 1\r\nline 2");
    StrToFile(name, "line 3", true);
    EXPECT_EQ(FileToStr(name), "line 1\r\nline 2\r\nline 3");
    StrToFile(name, "new", false);
    EXPECT_EQ(ReadWholeFile(name), "new\r\n");
    EXPECT_FALSE(std::filesystem::exists(name + ".kvs-tmp"));
    WriteWholeFile(name, "lf\nonly\n\nend");
    EXPECT_EQ(FileToStr(name), "lf\r\nonly\r\n\r\nend");

    int files = FileCount();
    EXPECT_EQ(FileToStr(tmp / "missing.txt"), "");
    EXPECT_FALSE(MonOK());
    EXPECT_NE(MonErrorText().find("missing.txt"), std::string::npos);
    StrToFile(tmp / "no/such/folder/x.txt", "t", false);
    EXPECT_FALSE(MonOK());
    EXPECT_EQ(FileCount(), files) << "no file stays open after a failure";
    EXPECT_EQ(MonDepth(), 0);
}

TEST_F(MiscFiles, FoldersEndWithSlash)
{
    EXPECT_EQ(GetAppDir(), tmp / "prog/");
    EXPECT_EQ(GetWinFolder(), tmp / "c/WINDOWS/");
    EXPECT_TRUE(std::filesystem::is_directory(tmp / "c/WINDOWS"));
    EXPECT_EQ(GetWinDriveRoot(), tmp / "c/");
    EXPECT_EQ(GetProgramFilesFolder(), tmp / "c/Program Files/");
    EXPECT_TRUE(MakeLongDir(tmp / "a/b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(tmp / "a/b/c"));
    WriteWholeFile(tmp / "file", "x");
    EXPECT_FALSE(MakeLongDir(tmp / "file/sub"));
}

TEST_F(MiscFiles, RegistryFolderReducesDoubleSeparators)
{
    RegKey key;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_CURRENT_VERSION, true, key));
    ASSERT_TRUE(RegSetValueStr(key, "ProgramFilesDir", "/mnt//win///Programs"));
    EXPECT_EQ(GetProgramFilesFolder(), "/mnt/win/Programs/");
    EXPECT_EQ(GetRegistryFolder(REG_HKEY_LOCAL_MACHINE, "Software\\None", "X"), "");
}

TEST(WinUtilsInfo, MemoryAndVersion)
{
    EXPECT_GT(GetWinPhysicalMemory(), 0);
    EXPECT_GT(GetWinFreeMemory(), 0);
    EXPECT_LE(GetWinFreeMemory(), GetWinPhysicalMemory());
    std::string v = GetWinVersionStr();
    EXPECT_NE(v.find(" build "), std::string::npos) << v;
    EXPECT_NE(v.find('.'), std::string::npos) << v;
}

TEST(WinUtilsInfo, ExecAndWaitRunsInTheFilesFolder)
{
    TempDir tmp;
    std::string script = tmp / "my tool.sh";
    WriteWholeFile(script, "#!/bin/sh\npwd > out.txt\necho \"$1\" >> out.txt\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    ASSERT_TRUE(ExecAndWait(script, "\"two words\"", "", false));
    EXPECT_EQ(ReadWholeFile(tmp / "out.txt"), tmp.path.string() + "\ntwo words\n");
    EXPECT_TRUE(StartFile(script, "x", tmp / "", true, true));
    EXPECT_EQ(ReadWholeFile(tmp / "out.txt"), tmp.path.string() + "\nx\n");
    EXPECT_FALSE(ExecAndWait(tmp / "missing-program", "", "", false));
    EXPECT_FALSE(ExecAndWait("  ", "", "", false));
}

}  // namespace
