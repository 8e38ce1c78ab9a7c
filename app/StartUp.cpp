#include "app/StartUp.h"

#include "app/DriveUse.h"
#include <cctype>
#include <cstdint>

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/NumGroup.h"
#include "base/StrUtil.h"
#include "base/UiServices.h"
#include "platform/Prefs.h"
#include "platform/WinUtils.h"
#include "core/AutoChange.h"
#include "core/Backup.h"
#include "core/ImageStore.h"
#include "core/LogoCommands.h"
#include "core/Options.h"
#include "formats/ConForm.h"
#include "formats/FF_AVI.h"
#include "formats/FF_GIF.h"

bool Starting = false;

AppActions& Actions()
{
    TRACE("StartUp.Actions");
    static AppActions actions = [] {
        AppActions a;
        a.install = LogoInstall;
        a.change = LogoChange;
        a.uninstall = [] { return LogoUninstall(Answers()); };
        a.loadImageStore = StoreLoad;
        a.writeImageIndex = StoreWriteIndex;
        a.freeImageStore = StoreFree;
        a.imageCount = StoreCount;
        return a;
    }();
    return actions;
}

static void Run_(void (*action)())
{
    if (action) action();
}

bool IsCommandLineSwitch(const std::string& param)
{
    TRACE("StartUp.IsCommandLineSwitch");
    std::string p = StrLower(StrTrim(param));
    return p == "/inst" || p == "/change" || p == "/uninst";
}

bool HasCommandLineSwitch()
{
    TRACE("StartUp.HasCommandLineSwitch");
    for (int i = 1; i <= ParamCount(); i++)
        if (IsCommandLineSwitch(ParamStr(i))) return true;
    return false;
}

// Runs action when it is wired; what it did goes into all.
static void RunSwitch_(Outcome (*action)(), Outcome& all, bool show)
{
    TRACE("StartUp.RunSwitch_");
    if (!action) return;
    const Outcome o = action();
    // The automatic change runs at every Windows start with nobody to click a box away.
    if (show) OutcomeShow(o);
    OutcomeMerge(all, o);
}

bool ProcessCommandLine(Outcome* outcome)
{
    TRACE("StartUp.ProcessCommandLine");
    bool matched = false;
    Outcome all;
    MonBlock([&] {
        for (int i = 1; i <= ParamCount(); i++) {
            std::string p = StrLower(StrTrim(ParamStr(i)));
            if (p == "/inst") {
                matched = true;
                RunSwitch_(Actions().install, all, true);
            } else if (p == "/change") {
                matched = true;
                RunSwitch_(Actions().change, all, false);
            } else if (p == "/uninst") {
                matched = true;
                RunSwitch_(Actions().uninstall, all, true);
            }
        }
    });
    if (outcome) *outcome = all;
    return matched;
}

bool StartUp(StartUpWindow* window, Outcome* outcome)
{
    TRACE("StartUp.StartUp");
    bool ran = false;
    Starting = true;
    try {
        MonBlock([&] {
            AviInit();
            DriveUseOpenChosen();
            LoadSettings();
            LoadMessages();
            Run_(Actions().loadImageStore);
            if (window) window->SetUpWindow();
            ran = ProcessCommandLine(outcome);
            if (ran) {
                if (window) window->HideForCommandLine();
                // Keeps the pick counters the switch advanced; headers.dat is left as it was.
                const Outcome saved = OptionsSaveSettings();
                if (outcome) OutcomeMerge(*outcome, saved);
                if (window) window->RequestTerminate();
            } else if (window) {
                // Windows may have used prepared logo sets since the drive was last opened.
                OutcomeShow(AutoChangeCatchUp());
                window->RefreshList();
                window->SelectRow(0);
                window->SetHints();
                // Between commands the window leaves a disk image to the emulator.
                DriveUseEnd();
            }
        });
    } catch (...) {
        // A window whose start-up failed must still be closable.
        Starting = false;
        throw;
    }
    // A command-line run keeps it set until the process ends, so the close notifications that
    // follow the termination request do not run the shut-down (no headers.dat on this path).
    if (!ran) Starting = false;
    return ran;
}

void ShutDown(StartUpWindow* window)
{
    TRACE("StartUp.ShutDown");
    MonBlock([&] {
        Starting = true;
        SaveSettings();
        Run_(Actions().writeImageIndex);
        if (window) window->ReleasePreview();
        Run_(Actions().freeImageStore);
        if (window) window->RequestTerminate();
    });
}

void RequestShutDown(StartUpWindow* window)
{
    TRACE("StartUp.RequestShutDown");
    if (!Starting) ShutDown(window);
}

int RunWithoutWindow(const std::vector<std::string>& params)
{
    TRACE("StartUp.RunWithoutWindow");
    SetParams(params);
    Outcome o;
    try {
        if (!StartUp(nullptr, &o)) {
            Ui().WarningBox("This program was built without its main window. Run it with /inst, /change or "
                            "/uninst, or use the kvs tool.");
            ShutDown(nullptr);
        }
        // A disk image gets what the run wrote, also when part of it failed.
        MonBlock([] { DriveUseCommit(); });
    } catch (const std::exception& e) {
        Ui().ErrorBox(e.what());
        ProgramEnd();
        return 1;
    }
    ProgramEnd();
    return OutcomeOk(o) ? 0 : 1;
}

void ProgramEnd()
{
    TRACE("StartUp.ProgramEnd");
    DriveUseClose();
    GIFDone();
    AviDone();
    ConDone();
    PrefsClear();
}

// Decimal with "," between groups of three digits; the memory figures do not fit 32 bits.
static std::string MethodName_(int32_t method)
{
    TRACE("StartUp.MethodName_");
    switch (method) {
    case 0: return "Sequential";
    case 1: return "Random";
    case 2: return "First Only";
    default: return "Unknown (" + std::to_string(method) + ")";
    }
}

std::string DebugInfoText()
{
    TRACE("StartUp.DebugInfoText");
    const std::string nl = "\r\n";
    std::string s;
    s += std::string("Debug info generated by ") + APP_TITLE + " " + APP_VERSION + nl;
    s += nl;
    s += "Physical memory available: " + NumGroupDigits(GetWinPhysicalMemory()) + nl;
    s += "Physical memory free: " + NumGroupDigits(GetWinFreeMemory()) + nl;
    s += "Windows version: " + GetWinVersionStr() + nl;
    s += "Windows folder: " + GetWinFolder() + nl;
    s += "Program files folder: " + GetProgramFilesFolder() + nl;
    s += "Storage folder: " + GetStorageDir() + nl;
    s += "Startup logo: " + GetLogoFileName(POS_STARTUP) + nl;
    s += "Shut down logo: " + GetLogoFileName(POS_WAIT) + nl;
    s += "Turn off logo: " + GetLogoFileName(POS_TURNOFF) + nl;
    s += "Logo pick method: " + MethodName_(LogoPickMethod) + nl;
    s += "Message pick method: " + MethodName_(MsgPickMethod) + nl;
    s += "Number of logos: " + NumGroupDigits(Actions().imageCount ? Actions().imageCount() : 0) + nl;
    s += std::string("Autochanger: ") + (AutoChange ? "ON" : "OFF") + nl;
    return s;
}
