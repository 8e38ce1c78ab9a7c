// Folders of the managed Windows installation, starting documents and programs, memory figures,
// the version text. ForegroundErrorBox (the last-resort error box) is declared in base/Mon.h.
#pragma once

#include <cstdint>
#include <string>

#include "base/Mon.h"
#include "platform/Prefs.h"

// The foreground window; there is no system window handle below the user interface, so null
// (the desktop).
void* GetWindowHandle();
// Starts file with the parameters and waits for its end; false when it cannot be started.
bool ExecAndWait(const std::string& file, const std::string& params, const std::string& folder, bool minimised);
// ExecAndWait with wait; else asks the desktop to open file (an executable starts with the
// parameters in folder) and returns at once.
bool StartFile(const std::string& file, const std::string& params, const std::string& folder, bool wait,
               bool minimised);
// Opens a document or web address with the desktop's handler; the result is ignored.
void OpenWithShell(const std::string& fileOrAddress);
// The program folder, with trailing '/'.
std::string GetAppDir();
// The Windows folder with trailing '/'; empty text on failure.
std::string GetWinFolder();
// Root folder of the drive holding the Windows folder (its parent), with trailing '/'.
std::string GetWinDriveRoot();
// A folder value of the registry with doubled separators made single and a trailing '/'.
std::string GetRegistryFolder(RegRoot root, const std::string& keyPath, const std::string& valueName);
// "ProgramFilesDir" of HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion, trailing '/'.
std::string GetProgramFilesFolder();
// Total and available physical memory in bytes; 0 on failure.
int64_t GetWinPhysicalMemory();
int64_t GetWinFreeMemory();
// "<system> <major>.<minor> build <n>", for example "Linux 6.1 build 0".
std::string GetWinVersionStr();
