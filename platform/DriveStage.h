// A Windows drive inside a disk image, worked on through a private working folder: the files a
// command reads are copied out (staged), the command runs on the working folder as on a folder
// drive, and what changed is written back into the image. The image stays locked from opening
// to closing.
//
// Staged: LOGO.SYS, MSDOS.SYS and AUTOEXEC.BAT of the root; WIN.INI, registry.ini, LOGOW.SYS,
// LOGOS.SYS and the whole logos.bak and KVSROT (the automatic change's logo sets) folders of the
// Windows folder; the whole storage folder that win.ini names ([Trelmark] Kvs-StorageDir,
// "Program Files/KvsLogos" without it). While a stage is open, the free space of paths in it is
// the image's, less what the working copy has grown by.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "platform/DiskImage.h"

struct StageDigest {
    int64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const StageDigest&) const = default;
};

struct DriveStage {
    DiskImage disk;
    std::string work;  // the private working folder, trailing '/'
    std::string root;  // the staged drive root inside it, trailing '/'
    std::map<std::string, StageDigest> files;  // what the image holds, by path below the root
    std::set<std::string> folders;
    std::set<std::string> keep;  // names of the program's own working files, never written back
};

// Opens the image (see DiskOpen), finishes what a write-back cut short left behind, and stages
// the drive's files. Files named as one of keep (a lock file, say) stay in the working folder.
// Raises through the error monitor; nothing is left open after an error.
void StageOpen(const std::string& image, int partition, const std::set<std::string>& keep, DriveStage& stage);
// The staged Windows folder, trailing '/'.
std::string StageWindowsDir(const DriveStage& stage);
// Writes every new, changed and deleted file and folder of the working folder into the image,
// each file under a temporary name in its folder renamed over the old one, keeping the old
// file's DOS attributes. Returns the number of changes written; raises on failure.
int StageWriteBack(DriveStage& stage);
// Releases the image and removes the working folder; what was not written back is lost.
void StageClose(DriveStage& stage);
// Whether a stage is open.
bool StageIsOpen(const DriveStage& stage);

// The suffix of a file being written back; such files are removed when the image is opened.
constexpr const char* STAGE_TEMP_SUFFIX = ".kvs-new";
