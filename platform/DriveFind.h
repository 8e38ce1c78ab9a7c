// Finding the Windows 95/98 installations on this computer: mounted FAT file systems whose root
// holds one, and disk images in the places emulators keep their machines, in the home folder and
// in folders the user added. Every candidate gets one read-only look (FatPeek for an image); the
// whole search stops at its time limit. Nothing is ever written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DriveFound {
    std::string path;       // mount point or image file, absolute, without a trailing '/'
    int partition = 0;      // of an image's MBR; 0 for a mount or a bare file system
    std::string kind;       // "mounted", "fat", "mbr", "vhd"; refused: "qcow2", "vmdk", "vdi", "vhd-dynamic", "vhdx", "qed", "parallels"
    std::string place;      // where it was found: "mount table", "86Box", ..., "added folder", "home folder"
    std::string windows;    // "Windows 98 Second Edition"; empty when the drive does not say
    std::string label;      // volume label; empty for none
    int64_t size = 0;       // bytes; 0 when unknown
    int64_t freeBytes = -1;  // -1 when unknown
    std::string refused;    // why the program cannot open it (with the conversion); empty: usable
};

struct DrivePlace {
    std::string name;  // "86Box", "added folder", "home folder"
    std::string dir;
    int depth = 3;     // folder levels looked into below dir (1: only dir itself)
    bool anyName = true;  // files without a disk image extension are looked at too
};

struct DrivePlaces {
    std::string mountTable;          // /proc/self/mountinfo or a file in its format
    std::vector<DrivePlace> places;  // in search order
    int timeLimitMs = 1000;
};

struct DriveSearch {
    std::vector<DriveFound> drives;  // mounts first, then images by place; refused ones last
    bool timedOut = false;           // the limit came before every place was searched
};

// The places of this user: $KVS_MOUNTINFO (a file read in place of /proc/self/mountinfo) or the
// real mount table; the emulators' default folders below $HOME and the XDG folders; the added
// folders; the home folder to depth 3.
DrivePlaces DriveFindPlaces(const std::vector<std::string>& added);
DriveSearch DriveFindAll(const DrivePlaces& places);
// One look at one path (a drive root folder or an image), as the search would take it; empty
// when it holds no Windows 95/98 drive the search would list.
std::vector<DriveFound> DriveFindAt(const std::string& path, const std::string& place);
// The Windows version MSDOS.SYS names (WinVer=), else what the Windows folder's names tell.
std::string DriveFindVersion(const std::string& msdosSys, const std::vector<std::string>& windowsNames);
// "2.0 GB", "512 MB", "96 KB"; empty for a negative (unknown) size.
std::string DriveFindSizeText(int64_t bytes);
// How the kind is shown: "Mounted drive", "Disk image", "Fixed VHD", "QCOW2 image".
std::string DriveFindKindText(const std::string& kind);
