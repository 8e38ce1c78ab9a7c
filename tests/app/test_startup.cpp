#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartUp.h"
#include "base/Mon.h"
#include "platform/Registry.h"
#include "support/ScriptedUi.h"
#include "support/TempEnv.h"

namespace {

std::vector<std::string>* g_calls = nullptr;
void Note(const std::string& s)
{
    if (g_calls) g_calls->push_back(s);
}

class FakeWindow : public StartUpWindow {
public:
    void SetUpWindow() override { Note("win.setup"); }
    void HideForCommandLine() override { Note("win.hide"); }
    void RequestTerminate() override { Note("win.terminate"); }
    void RefreshList() override { Note("win.refresh"); }
    void SelectRow(int row) override { Note("win.select" + std::to_string(row)); }
    void SetHints() override { Note("win.hints"); }
    void ReleasePreview() override { Note("win.preview"); }
};

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls = &calls;
        Starting = false;
        saved = Actions();
        AppActions& a = Actions();
        a.change = [] {
            Note("change");
            return Outcome();
        };
        a.install = [] {
            Note("change");
            Note("msdos");
            Outcome o;
            o.Result = INST_MESSAGE;
            return o;
        };
        a.uninstall = [] {
            Note("uninstall");
            return Outcome();
        };
        a.loadImageStore = [] { Note("load"); };
        a.writeImageIndex = [] { Note("index"); };
        a.freeImageStore = [] { Note("free"); };
        a.imageCount = [] { return 1234; };
    }
    void TearDown() override
    {
        Actions() = saved;
        g_calls = nullptr;
        Starting = false;
        SetParams({});
    }
    void Params(std::vector<std::string> rest)
    {
        rest.insert(rest.begin(), "/usr/lib/kvs/kelvane-studio");
        SetParams(rest);
    }
    int Count(const std::string& what) const
    {
        int n = 0;
        for (const std::string& c : calls) n += c == what;
        return n;
    }
    TempEnv env;
    ScriptedUi ui;
    FakeWindow window;
    AppActions saved;
    std::vector<std::string> calls;
};

}  // namespace

TEST_F(StartUpTest, SwitchesAreTrimmedAndIgnoreCase)
{
    Params({"  /CHANGE ", "-change", "/changes", "change", "/Uninst"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(calls, (std::vector<std::string>{"change", "uninstall"}));
}

TEST_F(StartUpTest, UnknownParametersAreIgnored)
{
    Params({"/install", "x/change", "", "/inst2"});
    EXPECT_FALSE(ProcessCommandLine());
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(ui.log.empty());
    EXPECT_FALSE(HasCommandLineSwitch());
    EXPECT_TRUE(IsCommandLineSwitch(" /INST"));
}

TEST_F(StartUpTest, SwitchesRunInParameterOrderAndRepeat)
{
    Params({"/change", "/inst", "/change"});
    EXPECT_TRUE(ProcessCommandLine());
    EXPECT_EQ(calls, (std::vector<std::string>{"change", "change", "msdos", "change"}));
    ASSERT_EQ(ui.Count("info"), 1);
    EXPECT_EQ(ui.Last("info"), INST_MESSAGE);
}

TEST_F(StartUpTest, InstWritesTheRunEntryWhateverAutoChangeHolds)
{
    TempEnv::Write(env.prog + "Kvs.ini", "[Main]\r\nAutoChange=0\r\n");
    Actions().install = saved.install;
    Params({"/inst"});
    EXPECT_TRUE(StartUp(nullptr));
    RegKey key;
    ASSERT_TRUE(RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, false, key));
    std::string run;
    ASSERT_TRUE(RegQueryValueStr(key, "KelvaneStudio", run));
    EXPECT_EQ(run, "/USR/LIB/KVS/KELVANE-STUDIO /CHANGE");
    EXPECT_FALSE(AutoChange);  // the setting itself is not changed
}

TEST_F(StartUpTest, CommandLineRunSavesSettingsButNotTheIndex)
{
    Params({"/change"});
    EXPECT_TRUE(StartUp(&window));
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "win.setup", "change", "win.hide", "win.terminate"}));
    const std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    EXPECT_NE(ini.find("Logo2Index="), std::string::npos);
    EXPECT_NE(TempEnv::Read(env.win + "win.ini").find("[Trelmark]"), std::string::npos);
    // Starting stays set: the close notifications after the termination request do nothing.
    EXPECT_TRUE(Starting);
    RequestShutDown(&window);
    EXPECT_EQ(Count("index"), 0);
}

TEST_F(StartUpTest, InteractiveStartFillsTheWindowAndClosesOnce)
{
    Params({});
    EXPECT_FALSE(StartUp(&window));
    EXPECT_FALSE(Starting);
    EXPECT_EQ(calls, (std::vector<std::string>{"load", "win.setup", "win.refresh", "win.select0", "win.hints"}));
    EXPECT_FALSE(std::filesystem::exists(env.prog + "Kvs.ini"));
    calls.clear();
    RequestShutDown(&window);  // close query
    RequestShutDown(&window);  // close
    EXPECT_EQ(calls, (std::vector<std::string>{"index", "win.preview", "free", "win.terminate"}));
    EXPECT_TRUE(std::filesystem::exists(env.prog + "Kvs.ini"));
}

TEST_F(StartUpTest, FailedStartUpLeavesTheWindowClosable)
{
    Actions().loadImageStore = [] { MonErrorMsg(EC_GENERAL, "store broken", __LINE__); };
    Params({});
    EXPECT_THROW(StartUp(&window), EMon);
    EXPECT_FALSE(Starting);
    RequestShutDown(&window);
    EXPECT_EQ(Count("index"), 1);
}

TEST_F(StartUpTest, UnwiredActionsAreSkipped)
{
    Actions() = AppActions{};
    Params({"/inst", "/uninst"});
    EXPECT_TRUE(StartUp(nullptr));
    EXPECT_EQ(ui.Count("info"), 0);
    EXPECT_TRUE(std::filesystem::exists(env.prog + "Kvs.ini"));
}

TEST_F(StartUpTest, DebugReport)
{
    Params({});
    LoadSettings();
    LogoPickMethod = 2;
    MsgPickMethod = 7;
    AutoChange = false;
    const std::string r = DebugInfoText();
    std::vector<std::string> lines;
    size_t p = 0;
    for (size_t e; (e = r.find("\r\n", p)) != std::string::npos; p = e + 2) lines.push_back(r.substr(p, e - p));
    EXPECT_EQ(p, r.size()) << "every line ends with CR LF";
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "Debug info generated by KelvaneStudio 2.5.0");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].rfind("Physical memory available: ", 0), 0u);
    EXPECT_EQ(lines[5], "Windows folder: " + env.win);
    EXPECT_EQ(lines[7], "Storage folder: " + GetStorageDir());
    EXPECT_EQ(lines[9], "Shut down logo: " + env.win + "logow.sys");
    EXPECT_EQ(lines[11], "Logo pick method: First Only");
    EXPECT_EQ(lines[12], "Message pick method: Unknown (7)");
    EXPECT_EQ(lines[13], "Number of logos: 1,234");
    EXPECT_EQ(lines[14], "Autochanger: OFF");
}
