// Operating-system queries and process start for the utilities: folders, memory, version text,
// disk space, documents and processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Makes dir the Windows folder of every later query (the drive chosen at start-up); empty text
// goes back to the environment's choice.
void SysSetWindowsDir(const std::string& dir);
// The Windows folder with a trailing '/': the one set above, else $KVS_WINDOWS_DIR when set, else
// $XDG_DATA_HOME/KelvaneStudio/drive_c/WINDOWS/ (~/.local/share by default). Created when missing;
// empty text when it cannot be determined or created.
std::string SysWindowsDir();
// Root folder of the drive of the Windows folder: its parent, with a trailing '/'.
std::string SysDriveRoot();
// The program folder with a trailing '/': $KVS_PROGRAM_DIR when set, else the executable's folder
// when writable and not an installed copy (see ShippedInstallDir), else $XDG_CONFIG_HOME/KelvaneStudio/ (created).
std::string SysProgramDir();
// Creates the folder and its missing parents; true when it exists afterwards.
bool SysMakeDirs(const std::string& path);

// Figures of /proc/meminfo in bytes; 0 when unavailable.
int64_t SysMemTotal();
int64_t SysMemAvailable();
int64_t SysSwapTotal();
int64_t SysSwapFree();
// uname fields; false when uname fails.
bool SysUname(std::string& sysname, std::string& release, std::string& version, std::string& machine);
// "Linux 6.1.0-13-amd64 #1 SMP ... x86_64"; empty text on failure.
std::string SysVersionText();
// Free (for an unprivileged user) and total bytes of the file system holding path.
bool SysDiskSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes);
// A drive whose files are worked on in a copy (a staged disk image) answers SysDiskSpace for the
// paths below root through probe; an empty root drops it.
void SysSetDiskSpaceProbe(const std::string& root, const std::function<bool(int64_t& freeBytes, int64_t& totalBytes)>& probe);

// Splits a command line into arguments: blanks separate, double quotes group (and are removed).
std::vector<std::string> SysSplitCommandLine(const std::string& text);
// Starts file with the arguments in folder (empty: the current one). With wait it waits for the
// end and stores the exit status in exitCode (when given). False when it cannot be started.
bool SysStartProcess(const std::string& file, const std::vector<std::string>& args,
                     const std::string& folder, bool wait, int* exitCode = nullptr);
// Whether path is a regular file this user may execute.
bool SysIsExecutable(const std::string& path);
// Opens a document or web address with the desktop's handler (xdg-open) and returns at once.
bool SysOpenDocument(const std::string& target);
