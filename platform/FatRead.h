// Reading a FAT12/16/32 file system inside a file (a disk image) without changing it: its folders
// with their long and short names, the content of its files, its free space. The file is hostile:
// every size and cluster number is checked against the file system's own limits and the file
// before use; what cannot be read is a false return, never a read outside the file system, a
// loop or a crash. Reading in this process spares a disk image command the mtools runs it would
// otherwise start to look; every change is still written by mtools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr uint8_t FAT_ATTR_READONLY = 0x01, FAT_ATTR_HIDDEN = 0x02, FAT_ATTR_SYSTEM = 0x04,
                  FAT_ATTR_VOLUME = 0x08, FAT_ATTR_FOLDER = 0x10, FAT_ATTR_ARCHIVE = 0x20;
// A folder bigger than this is read only this far: FAT allows 65536 entries of 32 bytes.
constexpr int64_t FAT_FOLDER_MAX = 2 * 1024 * 1024;

struct FatVolume {
    int fd = -1;
    int64_t base = 0;  // the file system's first byte in the file
    int64_t end = 0;   // the first byte of the file past what may be read
    int bits = 0;      // 12, 16 or 32
    uint32_t bytesPerSector = 0, clusterBytes = 0, clusters = 0, rootCluster = 0, rootEntries = 0;
    int64_t size = 0;  // bytes of the file system, as its boot sector gives them
    int64_t fatStart = 0, fatBytes = 0, rootStart = 0, dataStart = 0, infoSector = 0;
    std::vector<uint8_t> boot;                          // the boot sector
    std::map<int64_t, std::vector<uint8_t>> fatBlocks;  // pieces of the first FAT read so far
};

struct FatItem {
    std::string name;       // the long name (UTF-8), or the short one when there is none
    std::string shortName;  // 8.3, in the letter case its entry records ("PROGRA~1", "logo.sys")
    uint8_t attr = 0;       // FAT_ATTR_*
    uint32_t cluster = 0;   // the first cluster; 0 for an empty file
    uint32_t size = 0;
    uint16_t date = 0, time = 0;  // when it was last written, in local time (FatModified)
    bool root = false;      // the root folder
};

// Whether the sector (512 bytes) is a FAT boot sector: jump, signature, sizes of powers of two.
bool FatIsBootSector(const uint8_t* sector);
// Reads the boot sector of the file system at byte offset of fd and checks its geometry against
// itself and end; false when no FAT file system can be read there.
bool FatOpen(int fd, int64_t offset, int64_t end, FatVolume& v);
// The root folder.
FatItem FatRoot(const FatVolume& v);
// The entries of a folder in their order, without "." and ".."; the volume label goes to label
// (when given) instead. False when the folder cannot be read.
bool FatList(FatVolume& v, const FatItem& folder, std::vector<FatItem>& out, std::string* label = nullptr);
// The item at path ('/' between the parts, "" for the root); each part is matched by its long
// or short name, ignoring case. False when there is none.
bool FatFind(FatVolume& v, const std::string& path, FatItem& item);
// The first max bytes of a file (all of it when it is smaller); false when its clusters end
// before, or cannot be read.
bool FatReadFile(FatVolume& v, const FatItem& file, int64_t max, std::vector<uint8_t>& out);
// When the item was last written, in seconds since 1970; 0 when its entry gives no date.
int64_t FatModified(const FatItem& item);
// Writes the whole file to outFd; false when it cannot be read or written.
bool FatCopyFile(FatVolume& v, const FatItem& file, int outFd);
// Free clusters, counted in the first FAT; -1 when it cannot be read. With trustInfo a FAT32
// file system's own count (its FSInfo sector) is taken when it looks sound, sparing the count.
int64_t FatFreeClusters(FatVolume& v, bool trustInfo);
