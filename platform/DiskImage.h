// Disk image files that hold a Windows drive: what kind of container a file is, which FAT file
// system inside it is the drive, the lock on it, and the mtools programs that read and write
// that file system at its byte offset as an ordinary user (no mounting, no root).
//
// Paths inside the image are written with '/' and without a leading one ("WINDOWS/WIN.INI");
// the empty text is the root folder. Failures raise through the error monitor; the texts name the
// image and, where it helps, what mtools said.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum { DISK_RAW_MBR = 1, DISK_BARE_FAT = 2, DISK_VHD_FIXED = 3 };
// DOS attributes as mattrib shows and sets them.
enum { DISK_ATTR_READONLY = 1, DISK_ATTR_HIDDEN = 2, DISK_ATTR_SYSTEM = 4, DISK_ATTR_ARCHIVE = 32 };

// The monitor class of the errors of disk images and drives: its texts are shown as they are.
constexpr int32_t DISK_ERROR_CLASS = 2;

constexpr const char* DISK_IN_USE_TEXT =
    "The disk image is in use by another program. Shut the emulator down first.";

struct DiskImage {
    std::string path;       // absolute path of the image file
    int kind = 0;           // DISK_RAW_MBR, DISK_BARE_FAT or DISK_VHD_FIXED
    int partition = 0;      // 1..4 for a partition of the MBR, 0 for a bare file system
    int64_t offset = 0;     // byte offset of the FAT file system
    std::string windowsDir;  // the root's Windows folder as stored ("WINDOWS", "Windows")
    int fd = -1;             // open image, holding the flock
    bool readOnly = false;   // opened without write access
    std::string toolConfig;  // the mtools configuration file naming the image
};

struct DiskEntry {
    std::string path;  // inside the image, as stored (long name)
    bool folder = false;
};

// Whether path names an existing regular file (an image) rather than a folder.
bool DiskIsImageFile(const std::string& path);
// Opens the image: recognises the container, finds the file system (partition 0: the first FAT
// partition whose root holds a WINDOWS folder), takes the lock (waiting a little for another
// instance of this program) and writes the mtools configuration into workDir. Raises the
// conversion text for containers it cannot read, the in-use text when another program holds a
// lock on the file.
bool DiskOpen(const std::string& path, int partition, const std::string& workDir, DiskImage& disk);
// Releases the lock and closes the file.
void DiskClose(DiskImage& disk);
// Raises the in-use text when another program holds a lock on the image (QEMU's byte-range
// locks, POSIX or open-file-description), or an error when it was opened read-only.
bool DiskCheckWritable(const DiskImage& disk);

// Entries of a folder; with recursive also those of every folder below it.
bool DiskList(const DiskImage& disk, const std::string& folder, bool recursive, std::vector<DiskEntry>& out);
// Copies files (with recursive, whole folders) into the host folder hostDir.
bool DiskCopyOut(const DiskImage& disk, const std::vector<std::string>& paths, const std::string& hostDir);
// Writes hostFile as path (replacing a file of that name).
bool DiskCopyIn(const DiskImage& disk, const std::string& hostFile, const std::string& path);
// Renames from to the name of to in the same folder, replacing a file of that name.
bool DiskRename(const DiskImage& disk, const std::string& from, const std::string& to);
bool DiskDelete(const DiskImage& disk, const std::string& path);
bool DiskMakeDir(const DiskImage& disk, const std::string& path);
bool DiskRemoveDir(const DiskImage& disk, const std::string& path);
// Free bytes of the file system and the size of its clusters; false when mtools cannot tell.
bool DiskSpace(const DiskImage& disk, int64_t& freeBytes, int64_t& clusterBytes);
// The DISK_ATTR_* bits of a file.
int DiskGetAttr(const DiskImage& disk, const std::string& path);
bool DiskSetAttr(const DiskImage& disk, const std::string& path, int attr);
