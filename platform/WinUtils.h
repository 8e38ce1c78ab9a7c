// Folders of the managed Windows installation, starting documents and programs, memory figures,
// the version text. ForegroundErrorBox (the last-resort error box) is declared in base/Mon.h.
#pragma once

#include <cstdint>
#include <string>

#include "base/Mon.h"
#include "base/Prefs.h"

// The foreground window; there is no system window handle below the user interface, so null
// (the desktop).
void* GetWindowHandle();
// Asks the desktop to open file (an executable starts with the parameters in folder); returns at once.
bool _ExecAndReturn(const std::string& file, const std::string& params, const std::string& folder, bool minimised);
// Starts file with the parameters and waits for its end; false when it cannot be started.
bool ExecAndWait(const std::string& file, const std::string& params, const std::string& folder, bool minimised);
bool StartFile(const std::string& file, const std::string& params, const std::string& folder, bool wait,
               bool minimised);
// Opens a document or web address with the desktop's handler; the result is ignored.
void OpenWithShell(const std::string& fileOrAddress);
// The Windows folder with trailing '/'; empty text on failure.
std::string GetWinFolder();
// Root folder of the drive holding the Windows folder (its parent), with trailing '/'.
std::string GetWinDriveRoot();
std::string _GetRegistryFolder(RegRoot root, const std::string& keyPath, const std::string& valueName);
// "ProgramFilesDir" of HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion, trailing '/'.
std::string GetProgramFilesFolder();
// Total and available physical memory in bytes; 0 on failure.
int64_t GetWinPhysicalMemory();
int64_t GetWinFreeMemory();
// "<system> <major>.<minor> build <n>", for example "Linux 6.1 build 0".
std::string GetWinVersionStr();
