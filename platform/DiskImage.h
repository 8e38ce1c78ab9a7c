// Disk image files that hold a Windows drive: what kind of container a file is, which FAT file
// system inside it is the drive, the locks on it, reading that file system in this process and
// writing it through the mtools programs at its byte offset as an ordinary user (no mounting, no
// root).
//
// Paths inside the image are written with '/' and without a leading one ("WINDOWS/WIN.INI");
// the empty text is the root folder. An existing entry is always addressed by its short (8.3)
// path, which holds none of mtools' pattern characters; only a new name's last part is given
// as it is, where mtools takes it literally. Failures raise through the error monitor; the
// texts name the image and, where it helps, what mtools said.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum { DISK_RAW_MBR = 1, DISK_BARE_FAT = 2, DISK_VHD_FIXED = 3 };
// DOS attributes as the FAT keeps them and mattrib sets them.
enum { DISK_ATTR_READONLY = 1, DISK_ATTR_HIDDEN = 2, DISK_ATTR_SYSTEM = 4, DISK_ATTR_ARCHIVE = 32 };

// The monitor class of the errors of disk images and drives: its texts are shown as they are.
constexpr int32_t DISK_ERROR_CLASS = 2;

// What a user is told to do with a container the program cannot read.
constexpr const char* DISK_CONVERT_HINT =
    " Kelvane Studio reads raw disk images and fixed-size VHD files only; convert it first, for "
    "example: qemu-img convert -O raw IMAGE drive.img";

constexpr const char* DISK_IN_USE_TEXT =
    "The disk image is in use by another program. Shut the emulator down first.";

struct DiskEntry {
    std::string path;       // inside the image, as stored (long names)
    std::string shortPath;  // the same entry by short names
    bool folder = false;
    int64_t size = 0;
};

struct DiskImage {
    std::string path;       // absolute path of the image file
    int kind = 0;           // DISK_RAW_MBR, DISK_BARE_FAT or DISK_VHD_FIXED
    int partition = 0;      // 1..4 for a partition of the MBR, 0 for a bare file system
    int64_t offset = 0;     // byte offset of the FAT file system
    int64_t end = 0;        // the first byte past the disk's data (a VHD's footer is not data)
    int64_t clusterBytes = 0;
    std::string windowsDir;    // the root's Windows folder as stored ("WINDOWS", "Windows")
    std::string windowsShort;  // its short name
    int fd = -1;             // open image, holding the flock and the emulator's byte-range locks
    bool readOnly = false;   // opened without write access
    std::string toolConfig;  // the mtools configuration file naming the image
    std::vector<DiskEntry> rootEntries;  // the root and the Windows folder as DiskOpen found them
};

// The container the program cannot read ("QCOW2", "dynamic VHD", "VMDK descriptor", ...) that a
// file of size bytes is, from its first and last sectors; empty for a raw image or a fixed VHD.
std::string DiskForeignKind(const unsigned char* first, const unsigned char* footer, int64_t size);
// Whether path names an existing regular file (an image) rather than a folder.
bool DiskIsImageFile(const std::string& path);
// Opens the image: recognises the container, finds the file system (partition 0: the first FAT
// partition whose root holds a WINDOWS folder), takes the locks (waiting a little for another
// instance of this program) and writes the mtools configuration into workDir. Raises the
// conversion text for containers it cannot read, the in-use text when another program holds a
// lock on the file.
void DiskOpen(const std::string& path, int partition, const std::string& workDir, DiskImage& disk);
// Takes the locks of an image opened before and released by DiskUnlock.
void DiskLock(DiskImage& disk);
// Releases the locks and closes the file; the rest of disk stays valid for DiskLock.
void DiskUnlock(DiskImage& disk);
// Releases the locks and closes the file.
void DiskClose(DiskImage& disk);
// Raises the in-use text when another program holds a lock on the image or has it open (its
// name and process id), or an error when it was opened read-only.
void DiskCheckWritable(const DiskImage& disk);
// The free bytes of the file system, counted in its first FAT; -1 when that cannot be read.
int64_t DiskFreeBytes(const DiskImage& disk);
// The DISK_ATTR_* bits of several files at once, in their order.
std::vector<int> DiskGetAttrs(const DiskImage& disk, const std::vector<std::string>& shortPaths);
// Makes sure every byte of the image file has its place on the host disk, so that a write into
// a hole cannot fail half-way for want of space. Raises when the host disk cannot hold it.
void DiskReserve(const DiskImage& disk);

// Entries of a folder (given by its long and short path); with recursive also those of every
// folder below it. freeBytes, when given, gets the free space of the file system.
void DiskList(const DiskImage& disk, const std::string& folder, const std::string& folderShort, bool recursive,
              std::vector<DiskEntry>& out, int64_t* freeBytes = nullptr);
// Copies the entries (files, or folders with their content) to hostRoot + their path.
void DiskCopyOut(const DiskImage& disk, const std::vector<DiskEntry>& entries, const std::string& hostRoot);
// Writes hostFile as the file name in the folder folderShort; with replace over a file of that name.
void DiskCopyIn(const DiskImage& disk, const std::string& hostFile, const std::string& folderShort, const std::string& name,
                bool replace = false);
// Renames the file fromShort to name in its folder, replacing a file of that name.
void DiskRename(const DiskImage& disk, const std::string& fromShort, const std::string& name);
void DiskDelete(const DiskImage& disk, const std::string& shortPath);
void DiskMakeDir(const DiskImage& disk, const std::string& folderShort, const std::string& name);
void DiskRemoveDir(const DiskImage& disk, const std::string& shortPath);
// Free bytes of the file system and the size of its clusters; false when they cannot be read.
bool DiskSpace(const DiskImage& disk, int64_t& freeBytes, int64_t& clusterBytes);
// The DISK_ATTR_* bits of a file.
int DiskGetAttr(const DiskImage& disk, const std::string& shortPath);
void DiskSetAttr(const DiskImage& disk, const std::string& shortPath, int attr);
