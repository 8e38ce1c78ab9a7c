// Program start-up and shut-down, the command-line switches "/inst", "/change", "/uninst"
// and the window-less run of both executables.
//
// The install information (ReadInstallInfo, WriteInstallInfo, the InstallInfo record) is
// declared in core/Settings.h: the settings load and save call it, and core cannot call up
// into app.
#pragma once

#include <string>
#include <vector>

#include "core/LogoCommands.h"
#include "core/Settings.h"

// Set while start-up or shut-down runs; the window's list, drawing, resize and close handlers
// do nothing then. Shut-down never clears it again.
extern bool Starting;

// What the sequences need from the main window; the window implements it. Without a window
// (kvs, a command-line run) these steps are left out.
class StartUpWindow {
public:
    virtual ~StartUpWindow() = default;
    // Application title, caption with version, list multi-selection, tool panel caption
    // cleared, preview set up in its panel.
    virtual void SetUpWindow() = 0;
    // Before a command-line run ends: clear the show-main-window flag and minimise.
    virtual void HideForCommandLine() = 0;
    virtual void RequestTerminate() = 0;
    virtual void RefreshList() = 0;
    virtual void SelectRow(int row) = 0;
    virtual void SetHints() = 0;
    virtual void ReleasePreview() = 0;
};

// Operations of other units that the sequences and the switches run; Actions() starts with the
// real ones (tests put their own in). A null entry is skipped.
struct AppActions {
    Outcome (*install)() = nullptr;    // "/inst": new logos, the Run entry, "Logo=1" in MSDOS.SYS
    Outcome (*change)() = nullptr;     // "/change": new logos for the three positions
    Outcome (*uninstall)() = nullptr;  // "/uninst": Run entry off, old logos back, ask about the store
    void (*loadImageStore)() = nullptr;              // create the image list, RefreshImageList from GetStorageDir()
    void (*writeImageIndex)() = nullptr;             // headers.dat into GetStorageDir()
    void (*freeImageStore)() = nullptr;              // free the list and its entries
    int (*imageCount)() = nullptr;                   // entries in the image list
};
AppActions& Actions();

// Trimmed and compared ignoring case; only "/inst", "/change", "/uninst" count.
bool IsCommandLineSwitch(const std::string& param);
// Whether parameters 1.. hold a switch (the window need not be shown then).
bool HasCommandLineSwitch();

// The start-up sequence; window may be null. True when a switch ran: the settings are saved
// and the program is to end.
bool StartUp(StartUpWindow* window, Outcome* outcome = nullptr);
// Saves settings and store index, releases the preview and the store, asks to terminate.
void ShutDown(StartUpWindow* window);
// ShutDown unless start-up or shut-down is running (the second close notification).
void RequestShutDown(StartUpWindow* window);
// Runs the action of every switch among parameters 1.., in order; true when any matched.
// "/inst" and "/uninst" show what they did; outcome, when given, gets what all of them did.
bool ProcessCommandLine(Outcome* outcome = nullptr);

// kelvane-studio without its window: the parameters (0 = the program's full path) are taken,
// the start-up sequence runs, and without a switch the program is shut down again at once.
// Returns the exit status: 0 done, 1 an error (its text shown through Ui()).
int RunWithoutWindow(const std::vector<std::string>& params);

// Releases the format units' state and the preferences target: once, when the program ends.
void ProgramEnd();

// The debug report, lines ending with CR LF.
std::string DebugInfoText();
