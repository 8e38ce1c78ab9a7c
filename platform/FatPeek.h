// A quick, read-only look into a FAT file system inside a file, for telling whether it holds a
// Windows 95/98 installation: the boot sector, the root folder, the Windows folder and MSDOS.SYS,
// each read once. The file is hostile: every size and cluster number is checked against the
// file system's own limits and the file before use; a damaged file system is "no look".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FatLook {
    bool windows = false;       // root MSDOS.SYS and a WINDOWS folder holding WIN.COM
    std::string label;          // volume label, blanks trimmed; empty for none
    int64_t size = 0;           // bytes of the file system
    int64_t freeBytes = -1;     // -1 when unknown
    std::string msdosSys;       // the start of MSDOS.SYS (at most FAT_PEEK_TEXT_MAX bytes)
    std::vector<std::string> windowsNames;  // 8.3 names in the Windows folder, upper case
};

constexpr int64_t FAT_PEEK_TEXT_MAX = 64 * 1024;

// Looks at the file system starting at byte offset of fd; end is the first byte past the data
// that may be read. False when no FAT file system can be read there.
bool FatPeek(int fd, int64_t offset, int64_t end, FatLook& look);
