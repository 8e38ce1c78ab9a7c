#include "platform/Prefs.h"
#include "platform/ProfileFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PrefsTest : public ::testing::Test {
protected:
    TempDir tmp;
    std::string win;
    void SetUp() override
    {
        win = tmp / "drive_c/WINDOWS";
        setenv("KVS_WINDOWS_DIR", win.c_str(), 1);
        setenv("KVS_PROGRAM_DIR", (tmp / "prog").c_str(), 1);
        ProfileDropCache();
        PrefsClear();
    }
    void TearDown() override
    {
        ProfileDropCache();
        PrefsClear();
    }
};

TEST_F(PrefsTest, WriteChangesOneLineAndKeepsEverythingElse)
{
    std::string ini = tmp / "Kvs.ini";
    const std::string before =
        "; settings\r\n"
        "[Other]\r\n"
        "FontSize=99\r\n"
        "\r\n"
        "[Main]\r\n"
        "Unknown = keep me  \r\n"
        "FontSize=10\r\n"
        "# not a comment for Windows\n"
        "  ; indented comment\r\n"
        "\r\n"
        "[Last]\r\n"
        "x=1";  // no line end at the very end
    WriteWholeFile(ini, before);
    PrefsPrepare(ini, "Main");
    PrefsWriteInt("FontSize", 12);
    EXPECT_EQ(ReadWholeFile(ini), before) << "nothing reaches the disk before the flush";
    ASSERT_TRUE(PrefsFlushCache());
    std::string expected = before;
    expected.replace(expected.find("FontSize=10"), 11, "FontSize=12");
    EXPECT_EQ(ReadWholeFile(ini), expected);

    // A new key goes to the end of its section, a new section to the end of the file.
    PrefsWriteStr("NewKey", "v");
    PrefsPrepare(ini, "Fresh");
    PrefsWriteBool("On", true);
    ASSERT_TRUE(PrefsFlushCache());
    std::string after = expected;
    after.replace(after.find("  ; indented comment\r\n") + 22, 0, "NewKey=v\r\n");
    after += "\r\n\r\n[Fresh]\r\nOn=1\r\n";
    EXPECT_EQ(ReadWholeFile(ini), after);

    ProfileDropCache();
    PrefsPrepare(ini, "main");
    EXPECT_EQ(PrefsReadInt("fontsize", 0), 12);
    EXPECT_EQ(PrefsReadStr("UNKNOWN", ""), "keep me");
    EXPECT_EQ(PrefsReadStr("NewKey", ""), "v");
    PrefsPrepare(ini, "Other");
    EXPECT_EQ(PrefsReadInt("FontSize", 0), 99);
}

TEST_F(PrefsTest, NamesIgnoreCaseAndFirstMatchWins)
{
    std::string ini = tmp / "a.ini";
    WriteWholeFile(ini, "[main]\nkey=first\nKEY=second\n[MAIN]\nkey=third\nonly=here\n");
    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadStr("Key", "d"), "first");
    // A key that only the second copy of the section holds is not found, as on Windows.
    EXPECT_EQ(PrefsReadStr("only", "d"), "d");
    PrefsWriteStr("kEy", "new");
    ASSERT_TRUE(PrefsFlushCache());
    EXPECT_EQ(ReadWholeFile(ini), "[main]\nkey=new\nKEY=second\n[MAIN]\nkey=third\nonly=here\n");
}

TEST_F(PrefsTest, BadInputNeverCrashesAndGivesDefaults)
{
    std::string ini = tmp / "junk.ini";
    std::string junk("\xEF\xBB\xBF[Main]\r\nGood=1\r\n", 19);
    junk += std::string("\0\xFF\xFE=\x01\x02[\0]\r\n", 11);
    junk += std::string(200000, 'A') + "=long\r\n";
    junk += "[Broken\r\nFontName=Arial\r\n";
    junk += "Font\0Size=5\r\n";
    junk += std::string(300000, '\xFF');
    junk.push_back('\0');
    WriteWholeFile(ini, junk);
    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadInt("Good", 7), 1);
    EXPECT_EQ(PrefsReadInt("FontSize", 10), 10);
    EXPECT_TRUE(PrefsReadBool("Missing", true));
    // "[Broken" is no section header: its lines stay in [Main].
    EXPECT_EQ(PrefsReadStr("FontName", "Verdana"), "Arial");
    PrefsPrepare(ini, "Broken");
    EXPECT_EQ(PrefsReadStr("FontName", "Verdana"), "Verdana");

    // Writing keeps the junk byte for byte.
    PrefsPrepare(ini, "Main");
    PrefsWriteInt("Good", 2);
    ASSERT_TRUE(PrefsFlushCache());
    std::string expected = junk;
    expected.replace(expected.find("Good=1"), 6, "Good=2");
    EXPECT_TRUE(ReadWholeFile(ini) == expected);
}

TEST_F(PrefsTest, EmptyAndOnlyJunkFilesLoad)
{
    for (std::string content : {std::string(), std::string("["), std::string("]]]=[[["), std::string("\r\r\r"),
                                std::string("=\n=x\n[]\n=")}) {
        std::string ini = tmp / "e.ini";
        WriteWholeFile(ini, content);
        ProfileDropCache();
        PrefsPrepare(ini, "Main");
        EXPECT_EQ(PrefsReadStr("k", "def"), "def");
        PrefsWriteStr("k", "v");
        ASSERT_TRUE(PrefsFlushCache());
        ProfileDropCache();
        EXPECT_EQ(PrefsReadStr("k", "def"), "v") << "content: " << content;
    }
}

TEST_F(PrefsTest, RandomFilesReadWriteAndReadBack)
{
    // Structure characters are over-represented so that headers, keys and breaks mix freely.
    const std::string alphabet("[]=;\r\n\0 aK\xFF\t\"", 13);
    std::mt19937 rng(12345);
    std::string ini = tmp / "rand.ini";
    for (int round = 0; round < 40; ++round) {
        std::string content(rng() % 400, ' ');
        for (char& c : content) c = alphabet[rng() % alphabet.size()];
        WriteWholeFile(ini, content);
        ProfileDropCache();
        std::string before;
        ProfileReadString("a", "K", "d", before, PREFS_BUFFER_SIZE, ini);
        ASSERT_TRUE(ProfileWriteString("a", "K", "v", ini));
        ASSERT_TRUE(ProfileFlush(ini));
        ProfileDropCache();
        std::string after;
        ProfileReadString("a", "K", "d", after, PREFS_BUFFER_SIZE, ini);
        ASSERT_EQ(after, "v") << "round " << round;
        std::string now = ReadWholeFile(ini);
        if (before == "v") {
            EXPECT_TRUE(now == content) << "an unchanged value rewrites nothing";
            continue;
        }
        // Everything but one changed line (or a few added lines, with a line end given to a last
        // line that had none) is kept.
        auto lines = [](const std::string& t) {
            std::vector<std::string> v;
            size_t a = 0;
            while (a < t.size()) {
                size_t b = t.find('\n', a);
                if (b == std::string::npos) b = t.size();
                v.push_back(t.substr(a, b - a));
                a = b + 1;
            }
            return v;
        };
        auto x = lines(content), y = lines(now);
        size_t pre = 0;
        while (pre < x.size() && pre < y.size() && x[pre] == y[pre]) ++pre;
        size_t suf = 0;
        while (suf < x.size() - pre && suf < y.size() - pre && x[x.size() - 1 - suf] == y[y.size() - 1 - suf]) ++suf;
        EXPECT_LE(x.size() - pre - suf, 1u) << "round " << round;
        EXPECT_LE(y.size() - pre - suf, 4u) << "round " << round;
    }
}

TEST_F(PrefsTest, HugeFilesAndFoldersAreLeftAlone)
{
    std::string big = tmp / "big.ini";
    WriteWholeFile(big, "[Main]\r\nA=1\r\n");
    std::filesystem::resize_file(big, PROFILE_MAX_FILE + 1);  // sparse, costs nothing
    PrefsPrepare(big, "Main");
    EXPECT_EQ(PrefsReadInt("A", 5), 5);
    PrefsWriteInt("A", 2);
    EXPECT_TRUE(PrefsFlushCache()) << "nothing was held for it";
    EXPECT_EQ(std::filesystem::file_size(big), static_cast<uintmax_t>(PROFILE_MAX_FILE + 1));
    EXPECT_FALSE(ProfileWriteString("Main", "A", "2", big));

    std::string dir = tmp / "dir.ini";
    std::filesystem::create_directory(dir);
    EXPECT_FALSE(ProfileWriteString("Main", "A", "2", dir));
    std::string out;
    EXPECT_EQ(ProfileReadString("Main", "A", "d", out, PREFS_BUFFER_SIZE, dir), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

TEST_F(PrefsTest, LongValueIsCutToTheBuffer)
{
    std::string ini = tmp / "long.ini";
    std::string value(1500, 'x');
    value[1022] = 'y';
    WriteWholeFile(ini, "[Main]\r\nLong=" + value + "\r\n");
    PrefsPrepare(ini, "Main");
    std::string got = PrefsReadStr("Long", "");
    ASSERT_EQ(got.size(), static_cast<size_t>(PREFS_BUFFER_SIZE - 1));
    EXPECT_EQ(got, value.substr(0, PREFS_BUFFER_SIZE - 1));
    // A long default is cut the same way.
    EXPECT_EQ(PrefsReadStr("Missing", value).size(), static_cast<size_t>(PREFS_BUFFER_SIZE - 1));
}

TEST_F(PrefsTest, IntegersAndBooleans)
{
    std::string ini = tmp / "t.ini";
    WriteWholeFile(ini,
                   "[Main]\nA=12abc\nB= 42 \nC=-7\nD=99999999999\nE=\nF=+5\nG=-\nH=0x10\n"
                   "T1=TRUE\nT2=yes\nT3=y\nT4=1\nF1=No\nF2=false\nF3=0\nX1=x\nX2=2\nX3=on\nX4=\n");
    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadInt("A", -1), -1);
    EXPECT_EQ(PrefsReadInt("B", -1), 42);
    EXPECT_EQ(PrefsReadInt("C", -1), -7);
    EXPECT_EQ(PrefsReadInt("D", -1), -1);
    EXPECT_EQ(PrefsReadInt("E", -1), -1);
    EXPECT_EQ(PrefsReadInt("F", -1), 5);
    EXPECT_EQ(PrefsReadInt("G", -1), -1);
    EXPECT_EQ(PrefsReadInt("H", -1), -1);
    EXPECT_EQ(PrefsReadInt("Missing", 33), 33);
    for (const char* k : {"T1", "T2", "T3", "T4"}) EXPECT_TRUE(PrefsReadBool(k, false)) << k;
    for (const char* k : {"F1", "F2", "F3"}) EXPECT_FALSE(PrefsReadBool(k, true)) << k;
    for (const char* k : {"X1", "X2", "X3", "X4", "Missing"}) {
        EXPECT_TRUE(PrefsReadBool(k, true)) << k;
        EXPECT_FALSE(PrefsReadBool(k, false)) << k;
    }
    PrefsWriteInt("W", -2147483647 - 1);
    PrefsWriteBool("WB", false);
    EXPECT_EQ(PrefsReadInt("W", 0), -2147483647 - 1);
    EXPECT_EQ(PrefsReadStr("WB", ""), "0");
}

TEST_F(PrefsTest, WithoutTargetNothingIsReadOrWritten)
{
    std::string ini = tmp / "n.ini";
    WriteWholeFile(ini, "[Main]\r\nKey=value\r\n");
    PrefsPrepare(ini, "");
    PrefsWriteStr("Key", "changed");
    EXPECT_EQ(PrefsReadStr("Key", "default"), "");
    EXPECT_EQ(PrefsReadInt("Key", 5), 5);
    PrefsPrepare("", "Main");
    EXPECT_EQ(PrefsReadStr("Key", "default"), "");
    EXPECT_FALSE(PrefsFlushCache());
    PrefsPrepare(ini, "Main");
    EXPECT_TRUE(PrefsFlushCache());
    EXPECT_EQ(ReadWholeFile(ini), "[Main]\r\nKey=value\r\n");
}

TEST_F(PrefsTest, BareNameLivesInTheWindowsFolderAndIgnoresCase)
{
    ASSERT_TRUE(std::filesystem::create_directories(win) || std::filesystem::is_directory(win));
    WriteWholeFile(win + "/WIN.INI", "[Trelmark]\r\nKvs-StorageDir=/x/\r\n");
    PrefsPrepare("win.ini", "trelmark");
    EXPECT_EQ(PrefsReadStr("Kvs-StorageDir", ""), "/x/");
    PrefsWriteStr("Kvs-Version", "2.5.0");
    ASSERT_TRUE(PrefsFlushCache());
    EXPECT_FALSE(std::filesystem::exists(win + "/win.ini"));
    EXPECT_EQ(ReadWholeFile(win + "/WIN.INI"), "[Trelmark]\r\nKvs-StorageDir=/x/\r\nKvs-Version=2.5.0\r\n");

    // A missing file is created with CR LF line ends.
    PrefsPrepare("system.ini", "boot");
    PrefsWriteStr("shell", "Explorer.exe");
    ASSERT_TRUE(PrefsFlushCache());
    EXPECT_EQ(ReadWholeFile(win + "/system.ini"), "[boot]\r\nshell=Explorer.exe\r\n");
}

TEST_F(PrefsTest, CacheSeesOutsideChangesUnlessItHoldsWrites)
{
    std::string ini = tmp / "c.ini";
    WriteWholeFile(ini, "[Main]\nA=1\n");
    PrefsPrepare(ini, "Main");
    EXPECT_EQ(PrefsReadInt("A", 0), 1);
    WriteWholeFile(ini, "[Main]\nA=22\n");  // another program, different size
    EXPECT_EQ(PrefsReadInt("A", 0), 22);
    WriteWholeFile(ini, "[Main]\nA=33\n");  // same size, same moment
    EXPECT_EQ(PrefsReadInt("A", 0), 33);
    PrefsWriteInt("B", 3);
    EXPECT_EQ(PrefsReadInt("B", 0), 3) << "reads see unflushed writes";
}

TEST_F(PrefsTest, FlushIsAtomicAndKeepsModeAndRefusesReadOnlyFiles)
{
    std::string ini = tmp / "m.ini";
    WriteWholeFile(ini, "[Main]\r\nA=1\r\n");
    chmod(ini.c_str(), 0640);
    PrefsPrepare(ini, "Main");
    PrefsWriteInt("A", 2);
    ASSERT_TRUE(PrefsFlushCache());
    struct stat st;
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    for (auto& e : std::filesystem::directory_iterator(tmp.path))
        EXPECT_EQ(e.path().filename().string().find(".m.ini."), std::string::npos) << "temporary file left behind";

    // The read-only attribute (the owner's write bit) keeps the file as it is, also for root.
    chmod(ini.c_str(), 0440);
    PrefsWriteInt("A", 3);
    EXPECT_FALSE(PrefsFlushCache());
    EXPECT_EQ(ReadWholeFile(ini), "[Main]\r\nA=2\r\n");
    chmod(ini.c_str(), 0640);
    EXPECT_TRUE(PrefsFlushCache()) << "the held write goes out once the file is writable";
    EXPECT_EQ(ReadWholeFile(ini), "[Main]\r\nA=3\r\n");
}

TEST_F(PrefsTest, WritesThatWouldBreakTheFileAreRefused)
{
    std::string ini = tmp / "r.ini";
    EXPECT_FALSE(ProfileWriteString("Main", "Key", "two\r\nlines", ini));
    EXPECT_FALSE(ProfileWriteString("Main", "a=b", "v", ini));
    EXPECT_FALSE(ProfileWriteString("Main", "[x]", "v", ini));
    EXPECT_FALSE(ProfileWriteString("Ma\nin", "k", "v", ini));
    EXPECT_FALSE(ProfileWriteString("", "k", "v", ini));
    EXPECT_TRUE(ProfileFlush(ini));
    EXPECT_FALSE(std::filesystem::exists(ini));
    // Values in quotes lose them on reading; blanks inside survive.
    ASSERT_TRUE(ProfileWriteString("Main", "q", "\"  spaced  \"", ini));
    std::string out;
    EXPECT_EQ(ProfileReadString("Main", "q", "", out, 100, ini), 10);
    EXPECT_EQ(out, "  spaced  ");
}

class RegistryTest : public PrefsTest {};

TEST_F(RegistryTest, RunValueCreateReadDelete)
{
    const std::string cmd = "/OPT/KVS/KELVANE-STUDIO /CHANGE";
    RegKey key;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key));
    ASSERT_TRUE(RegSetValueStr(key, "KelvaneStudio", cmd));
    RegCloseKey(key);
    std::string reg = ReadWholeFile(win + "/registry.ini");
    EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"),
              std::string::npos);

    ProfileDropCache();
    std::string text;
    RegGetString(REG_HKEY_LOCAL_MACHINE, "\\software\\microsoft\\windows\\currentversion\\run", "kelvanestudio", text);
    EXPECT_EQ(text, cmd);

    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key));
    RegReadStr(key, "KelvaneStudio", text, "none");
    EXPECT_EQ(text, cmd);
    EXPECT_TRUE(RegDeleteValueStr(key, "KelvaneStudio"));
    EXPECT_FALSE(RegDeleteValueStr(key, "KelvaneStudio"));
    RegReadStr(key, "KelvaneStudio", text, "none");
    EXPECT_EQ(text, "none");
    RegCloseKey(key);
    ProfileDropCache();
    EXPECT_EQ(ReadWholeFile(win + "/registry.ini").find("KelvaneStudio"), std::string::npos);
    RegReadStr(key, "KelvaneStudio", text, "closed");
    EXPECT_EQ(text, "closed");
}

TEST_F(RegistryTest, OtherValuesSurviveAndOddTextsRoundTrip)
{
    std::filesystem::create_directories(win);
    WriteWholeFile(win + "/registry.ini",
                   "; hand edited\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                   "Other=\"/usr/bin/other\"\r\n");
    RegKey key;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key));
    const std::string odd = " \"quoted\" and = signs ";
    ASSERT_TRUE(RegSetValueStr(key, "KelvaneStudio", odd));
    ASSERT_TRUE(RegSetValueStr(key, "Empty", ""));
    EXPECT_FALSE(RegSetValueStr(key, "Bad", "line\nbreak"));
    ProfileDropCache();
    std::string text;
    RegReadStr(key, "KelvaneStudio", text, "");
    EXPECT_EQ(text, odd);
    RegReadStr(key, "Empty", text, "default");
    EXPECT_EQ(text, "");
    RegReadStr(key, "Other", text, "");
    EXPECT_EQ(text, "/usr/bin/other");
    EXPECT_EQ(ReadWholeFile(win + "/registry.ini").rfind("; hand edited\r\n", 0), 0u);

    RegKey readOnly;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, false, readOnly));
    EXPECT_FALSE(RegSetValueStr(readOnly, "X", "y"));
}

TEST_F(RegistryTest, ProgramFilesDefaultAndMissingKeys)
{
    std::string text = "stale";
    RegGetString(REG_HKEY_LOCAL_MACHINE, "\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", text);
    EXPECT_EQ(text, tmp / "drive_c/Program Files");
    EXPECT_FALSE(std::filesystem::exists(win + "/registry.ini")) << "reading creates nothing";

    RegGetString(REG_HKEY_LOCAL_MACHINE, "Software\\Nobody", "x", text);
    EXPECT_EQ(text, "");
    RegKey key;
    EXPECT_FALSE(RegOpenKey(REG_HKEY_CURRENT_USER, "Software\\Nobody", false, key));
    EXPECT_FALSE(key.open);

    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_CURRENT_VERSION, true, key));
    ASSERT_TRUE(RegSetValueStr(key, "ProgramFilesDir", "D:/Programme"));
    RegGetString(REG_HKEY_LOCAL_MACHINE, REG_CURRENT_VERSION, "ProgramFilesDir", text);
    EXPECT_EQ(text, "D:/Programme");
}

}  // namespace
