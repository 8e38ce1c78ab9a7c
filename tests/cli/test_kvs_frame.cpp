// Runs the built kvs (and kelvane-studio) binaries on temporary folders.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/SettingsKeys.h"
#include "support/TempEnv.h"

namespace {

class KvsBinary : public ::testing::Test {
protected:
    RunResult Run(const std::string& program, const std::string& args, const std::string& input = "")
    {
        return RunProgram(env, program, args, input);
    }
    RunResult Kvs(const std::string& args, const std::string& input = "") { return Run("kvs", args, input); }

    static std::vector<std::string> Lines(const std::string& text, const std::string& eol = "\n")
    {
        std::vector<std::string> lines;
        size_t p = 0;
        for (size_t e; (e = text.find(eol, p)) != std::string::npos; p = e + eol.size())
            lines.push_back(text.substr(p, e - p));
        if (p < text.size()) lines.push_back(text.substr(p));
        return lines;
    }
    static std::string StudioRunValue()
    {
        std::string s = std::filesystem::weakly_canonical(std::string(KVS_BINARY_DIR) + "/kelvane-studio").string() +
                        " /change";
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    TempEnv env;
};

}  // namespace

TEST_F(KvsBinary, ChangeOnEmptyFoldersWritesSettingsInstallInfoAndRunEntry)
{
    RunResult r = Kvs("change");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> ini = Lines(TempEnv::Read(env.prog + "Kvs.ini"), "\r\n");
    ASSERT_EQ(ini.size(), 1 + std::size(kSaveOrder));
    EXPECT_EQ(ini[0], "[Main]");
    for (size_t i = 0; i < std::size(kSaveOrder); i++) {
        EXPECT_EQ(ini[i + 1].substr(0, ini[i + 1].find('=')), kSaveOrder[i]);
        EXPECT_EQ(ini[i + 1].find('\n'), std::string::npos);
    }
    std::vector<std::string> win = Lines(TempEnv::Read(env.win + "win.ini"), "\r\n");
    ASSERT_EQ(win.size(), 4u);
    EXPECT_EQ(win[0], "[Trelmark]");
    EXPECT_EQ(win[1], "Kvs-Path=" + std::filesystem::weakly_canonical(std::string(KVS_BINARY_DIR) + "/kelvane-studio").string());
    EXPECT_EQ(win[2], "Kvs-Ver=2.5.0");
    EXPECT_EQ(win[3], "Kvs-StorageDir=C:\\Program Files\\KvsLogos\\");
    const std::string reg = TempEnv::Read(env.win + "registry.ini");
    EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]"), std::string::npos);
    EXPECT_NE(reg.find("KelvaneStudio=\"" + StudioRunValue() + "\""), std::string::npos) << reg;
    // The shipped message files were put into the program folder.
    EXPECT_TRUE(std::filesystem::exists(env.prog + "msg-turnoff.txt"));
}

TEST_F(KvsBinary, SettingsPrintsDefaultsAndStoresValues)
{
    RunResult r = Kvs("settings");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), std::size(kSaveOrder));
    EXPECT_EQ(lines[0], "GalDir=/");
    EXPECT_EQ(lines[5], "DefPrefix=MyPicture");
    EXPECT_EQ(lines[8], "FontName=Verdana");
    EXPECT_EQ(lines[15], "TextColor=13172735");
    EXPECT_EQ(lines[20], "AnimColor1=16744448");
    EXPECT_EQ(lines[33], "Logo2Index=0");

    r = Kvs("settings defprefix 'a:b--c'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DefPrefix=a_bc\n");
    r = Kvs("settings FontSize 12abc");  // not a number: refused, the value stays
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Kvs("settings FontSize").out, "FontSize=10\n");
    // Numbers the program cannot use are refused as well, and nothing is stored.
    const std::string before = TempEnv::Read(env.prog + "Kvs.ini");
    for (const char* bad : {"ResizeMode 7", "AnimShape 99", "FontSize 5000", "Logo0Index -1"}) {
        r = Kvs(std::string("settings ") + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find(" takes a number from "), std::string::npos) << r.err;
    }
    EXPECT_EQ(TempEnv::Read(env.prog + "Kvs.ini"), before);
    EXPECT_EQ(Kvs("settings resizemode 2").out, "ResizeMode=2\n");
    r = Kvs("settings fontsize 14");
    r = Kvs("settings FONTSIZE");
    EXPECT_EQ(r.out, "FontSize=14\n");
    EXPECT_NE(TempEnv::Read(env.prog + "Kvs.ini").find("\r\nDefPrefix=a_bc\r\n"), std::string::npos);
    // A typed font name is kept in the Windows character set, as the drawn texts are.
    ASSERT_EQ(Kvs("settings FontName 'Caf\xC3\xA9'").status, 0);
    EXPECT_NE(TempEnv::Read(env.prog + "Kvs.ini").find("\r\nFontName=Caf\xE9\r\n"), std::string::npos);

    // Turning AutoChange off removes our Run entry.
    ASSERT_NE(TempEnv::Read(env.win + "registry.ini").find("KelvaneStudio="), std::string::npos);
    r = Kvs("settings AutoChange no");
    EXPECT_EQ(r.out, "AutoChange=0\n");
    EXPECT_EQ(TempEnv::Read(env.win + "registry.ini").find("KelvaneStudio="), std::string::npos);
}

TEST_F(KvsBinary, UsageErrorsAndHelp)
{
    RunResult r = Kvs("");
    EXPECT_EQ(r.status, 2);
    r = Kvs("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("frobnicate"), std::string::npos);
    r = Kvs("--yes --no change");
    EXPECT_EQ(r.status, 2);
    r = Kvs("--bogus change");
    EXPECT_EQ(r.status, 2);
    r = Kvs("settings NoSuchKey");
    EXPECT_EQ(r.status, 2);
    r = Kvs("settings a b c");
    EXPECT_EQ(r.status, 2);
    r = Kvs("change now");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(env.prog + "Kvs.ini"));  // bad usage changes nothing

    r = Kvs("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* c : {"inst", "change", "uninst", "settings", "debug-info"})
        EXPECT_NE(r.out.find(std::string("\n  ") + c), std::string::npos) << c;
    r = Kvs("settings --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: kvs [--yes|--no] settings [KEY [VALUE]]\n", 0), 0u) << r.out;
    EXPECT_FALSE(std::filesystem::exists(env.prog + "Kvs.ini"));
}

TEST_F(KvsBinary, InstReportsInItsOwnWordsOnStandardOutput)
{
    TempEnv::Write(env.prog + "Kvs.ini", "[Main]\r\nAutoChange=0\r\n");
    // The message tells that the logos changed, so there must be an image to change them to.
    const std::filesystem::path store = env.root / "drive_c/Program Files/KvsLogos";
    std::filesystem::create_directories(store);
    std::filesystem::copy_file(std::string(KVS_SOURCE_DIR) + "/data/samples/Samples--Tiles.png", store / "Tiles.png");
    RunResult r = Kvs("inst");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Kelvane Studio has changed your Windows logos"), std::string::npos);
    // The window's words point to its Programs menu entry; a terminal user is told kvs's way.
    EXPECT_EQ(r.out.find("Programs menu"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kvs settings"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(TempEnv::Read(env.win + "registry.ini").find("KelvaneStudio=\"" + StudioRunValue() + "\""),
              std::string::npos);
}

TEST_F(KvsBinary, SetMovesNothingForAnUnknownImageAndWarnsOfLinesPastTheEdge)
{
    const std::filesystem::path store = env.root / "drive_c/Program Files/KvsLogos";
    std::filesystem::create_directories(store);
    std::filesystem::copy_file(std::string(KVS_SOURCE_DIR) + "/data/samples/Samples--Tiles.png", store / "Sea--Tiles.png");
    ASSERT_EQ(Kvs("settings MsgPickMethod 0").status, 0);
    const std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    RunResult r = Kvs("set NoSuch --startup");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(TempEnv::Read(env.prog + "Kvs.ini"), ini) << "a message counter moved";

    r = Kvs("set Sea--Tiles --startup --message-startup "
            "'Short\\nThis line is far too long for a logo of three hundred and twenty pixels'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("\"This line is far too long"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\"Short\""), std::string::npos) << r.err;
    // A larger font pushes the shipped messages off as well.
    r = Kvs("settings FontSize 100");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("runs off the logo's right edge."), std::string::npos) << r.err;
    EXPECT_EQ(Kvs("settings FontSize 10").err, "");
}

TEST_F(KvsBinary, DebugInfo)
{
    RunResult r = Kvs("debug-info");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "Debug info generated by KelvaneStudio 2.5.0");
    EXPECT_EQ(lines[5], "Windows folder: " + env.win);
    EXPECT_EQ(lines[14], "Autochanger: ON");
}

TEST_F(KvsBinary, StudioSwitchRunsWithoutWindow)
{
    RunResult r = Run("kelvane-studio", "' /Change '");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(TempEnv::Read(env.prog + "Kvs.ini"), "\r\n").size(), 1 + std::size(kSaveOrder));
    EXPECT_NE(TempEnv::Read(env.win + "registry.ini").find("KelvaneStudio=\"" + StudioRunValue() + "\""),
              std::string::npos);
}
