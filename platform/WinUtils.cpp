// Folders, process start, memory and version figures.
#include "platform/WinUtils.h"

#include "base/FileUtil.h"
#include "base/Mon.h"
#include "platform/SysInfo.h"

#include <cstdlib>
#include <vector>

namespace {

std::string trimBlanks_(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// Leading decimal number of text from position at; moves at past it.
uint32_t number_(const std::string& text, size_t& at)
{
    uint32_t v = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') v = v * 10 + static_cast<uint32_t>(text[at++] - '0');
    return v;
}

bool execAndReturn_(const std::string& file, const std::string& params, const std::string& folder, bool minimised)
{
    TRACE("WinUtils._ExecAndReturn");
    (void)minimised;  // the window state is the desktop's business here
    std::string f = trimBlanks_(file);
    if (f.empty()) return false;
    if (SysIsExecutable(f)) return SysStartProcess(f, SysSplitCommandLine(params), folder, false);
    return SysOpenDocument(f);
}

}  // namespace

void* GetWindowHandle()
{
    TRACE("WinUtils.GetWindowHandle");
    return nullptr;
}

bool ExecAndWait(const std::string& file, const std::string& params, const std::string& folder, bool minimised)
{
    TRACE("WinUtils.ExecAndWait");
    (void)minimised;
    std::string f = trimBlanks_(file);
    if (f.empty()) return false;
    std::string command = f;
    if (f.find(' ') != std::string::npos && !(f.size() >= 2 && f.front() == '"' && f.back() == '"'))
        command = "\"" + f + "\"";
    command += " " + params;
    std::string dir = folder;
    if (dir.empty()) {
        std::string bare = f;
        if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"') bare = bare.substr(1, bare.size() - 2);
        size_t slash = bare.rfind('/');
        if (slash != std::string::npos) dir = slash == 0 ? std::string("/") : bare.substr(0, slash);
    }
    std::vector<std::string> args = SysSplitCommandLine(command);
    if (args.empty()) return false;
    std::string program = args.front();
    args.erase(args.begin());
    return SysStartProcess(program, args, dir, true);
}

bool StartFile(const std::string& file, const std::string& params, const std::string& folder, bool wait,
               bool minimised)
{
    TRACE("WinUtils.StartFile");
    if (wait) return ExecAndWait(file, params, folder, minimised);
    return execAndReturn_(file, params, folder, minimised);
}

void OpenWithShell(const std::string& fileOrAddress)
{
    TRACE("WinUtils.OpenWithShell");
    StartFile(fileOrAddress, std::string(), std::string(), false, false);
}

std::string GetAppDir()
{
    TRACE("miscprocs.GetAppDir");
    return SysProgramDir();
}

std::string GetWinFolder()
{
    TRACE("WinUtils.GetWinFolder");
    return SysWindowsDir();
}

std::string GetWinDriveRoot()
{
    TRACE("WinUtils.GetWinDriveRoot");
    return SysDriveRoot();
}

std::string GetRegistryFolder(RegRoot root, const std::string& keyPath, const std::string& valueName)
{
    TRACE("WinUtils._GetRegistryFolder");
    std::string text;
    RegGetString(root, keyPath, valueName, text);
    size_t at;
    while ((at = text.find("//")) != std::string::npos) text.erase(at, 1);
    return AddBS(text);
}

std::string GetProgramFilesFolder()
{
    TRACE("WinUtils.GetProgramFilesFolder");
    return GetRegistryFolder(REG_HKEY_LOCAL_MACHINE, std::string("\\") + REG_CURRENT_VERSION, "ProgramFilesDir");
}

int64_t GetWinPhysicalMemory()
{
    TRACE("WinUtils.GetWinPhysicalMemory");
    return SysMemTotal();
}

int64_t GetWinFreeMemory()
{
    TRACE("WinUtils.GetWinFreeMemory");
    return SysMemAvailable();
}

std::string GetWinVersionStr()
{
    TRACE("WinUtils.GetWinVersionStr");
    std::string sysname, release, version, machine;
    if (!SysUname(sysname, release, version, machine)) return "Unknown system";
    size_t at = 0;
    uint32_t major = number_(release, at);
    uint32_t minor = 0, build = 0;
    if (at < release.size() && release[at] == '.') minor = number_(release, ++at);
    if (at < release.size() && release[at] == '.') build = number_(release, ++at);
    return sysname + " " + std::to_string(major) + "." + std::to_string(minor) + " build " +
           std::to_string(build & 0xFFFF);
}
