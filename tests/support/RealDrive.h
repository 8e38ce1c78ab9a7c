// A drive as Windows 98 leaves it, not as the program would make it: upper-case 8.3 names, CR LF
// text files, MSDOS.SYS with its [Paths] and [Options] sections marked hidden, system and
// read-only, and the Wait and Turn Off logos that Windows installs as 320 x 400 8-bit bitmaps.
#pragma once

#include <filesystem>
#include <string>

#include "platform/FileAttr.h"
#include "support/TempEnv.h"

namespace RealDrive {

// A 320 x 400 8-bit bitmap with a grey ramp for a palette and a pattern that differs per seed.
inline std::string LogoBitmap(int seed)
{
    static const char header[] = "BM\x36\xF8\x01\0\0\0\0\0\x36\x04\0\0\x28\0\0\0\x40\x01\0\0\x90\x01\0\0\x01\0\x08\0"
                                 "\0\0\0\0\0\xF4\x01\0\0\0\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0";
    std::string b(header, 54);
    for (int i = 0; i < 256; ++i) b += std::string(3, static_cast<char>(i)) + '\0';
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 320; ++x) b += static_cast<char>((x + y * seed) & 0xFF);
    return b;
}

inline const char* MsdosSys()
{
    return "[Paths]\r\n"
           "WinDir=C:\\WINDOWS\r\n"
           "WinBootDir=C:\\WINDOWS\r\n"
           "HostWinBootDrv=C\r\n"
           "\r\n"
           "[Options]\r\n"
           "BootMulti=1\r\n"
           "BootGUI=1\r\n"
           "DoubleBuffer=1\r\n"
           "AutoScan=1\r\n"
           "WinVer=4.10.2222\r\n"
           "Logo=0\r\n"
           ";\r\n"
           ";The following lines are required for compatibility with other programs.\r\n"
           ";Do not remove them (MSDOS.SYS needs to be >1024 bytes).\r\n"
           ";xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n";
}

// The drive root with a trailing '/'; the Windows folder is root + "WINDOWS/".
inline void Make(const std::string& root)
{
    namespace fs = std::filesystem;
    fs::create_directories(root + "WINDOWS");
    fs::create_directories(root + "Program Files/Accessories");
    TempEnv::Write(root + "WINDOWS/WIN.INI",
                   "[windows]\r\nload=\r\nrun=\r\nNullPort=None\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\nTileWallpaper=1\r\n");
    TempEnv::Write(root + "WINDOWS/LOGOW.SYS", LogoBitmap(1));
    TempEnv::Write(root + "WINDOWS/LOGOS.SYS", LogoBitmap(3));
    TempEnv::Write(root + "AUTOEXEC.BAT", "SET PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n");
    TempEnv::Write(root + "MSDOS.SYS", MsdosSys());
    FileSetAttr(root + "MSDOS.SYS", FA_READONLY | FA_HIDDEN | FA_SYSTEM);
}

// How many entries of folder are named name, ignoring letter case.
inline int CountNamed(const std::string& folder, const std::string& name)
{
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return s;
    };
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (lower(e.path().filename().string()) == lower(name)) ++n;
    return n;
}

}  // namespace RealDrive
