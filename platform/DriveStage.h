// A Windows drive inside a disk image, worked on through a private working folder: the files a
// command reads are copied out (staged), the command runs on the working folder as on a folder
// drive, and what it changed is written back into the image in the order it wrote it, so the
// image only ever holds what a folder drive would hold after the command stopped somewhere.
//
// Staged: LOGO.SYS, MSDOS.SYS and AUTOEXEC.BAT of the root; WIN.INI, registry.ini, LOGOW.SYS,
// LOGOS.SYS and the whole logos.bak and KVSROT (the automatic change's logo sets) folders of the
// Windows folder; the storage folder that win.ini names ([Trelmark] Kvs-StorageDir,
// "Program Files/KvsLogos" without it), its pictures whole or (lazy) as they are read. While a
// stage is open, the free space of paths in it is the image's, less what the working copy has
// grown by.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DiskImage.h"
#include "platform/FileStamp.h"

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
    std::map<std::string, std::string> shortOf;  // the short path of an entry of the image, by its path
    std::set<std::string> keep;  // names of the program's own working files, never written back
    std::map<std::string, int64_t> order;  // path -> number of its last change noted
    int64_t events = 0;                    // changes noted so far
    FileStamp released;  // the image as this program left it when it let it go
    bool lazy = false;   // stored pictures are copied out only when read
    std::map<uint64_t, std::string> placeholders;  // inode -> path of a stored picture not copied out yet
};

// Opens the image (see DiskOpen), removes what killed programs left behind, and stages the
// drive's files. Files named as one of keep (a lock file, say) stay in the working folder. With
// lazy the stored pictures are empty files of their size until StageFetch copies them out; a
// renamed or deleted one is renamed or deleted in the image. Raises through the error monitor;
// nothing is left open after an error.
void StageOpen(const std::string& image, int partition, const std::set<std::string>& keep, bool lazy, DriveStage& stage);
// Copies a stored picture out of the image before it is read (nothing when it is there).
void StageFetch(DriveStage& stage, const std::string& hostPath);
// The staged Windows folder, trailing '/'.
std::string StageWindowsDir(const DriveStage& stage);
// Writes every new, changed and deleted file and folder of the working folder into the image in
// the order the program wrote them, each file under a temporary name in its folder renamed over
// the old one (keeping the old file's spelling and DOS attributes). Checks the room on the image
// and on the host disk first. Returns the number of changes written; raises naming every file it
// could not write, and then the image holds what was written before.
int StageWriteBack(DriveStage& stage);
// Lets the image go (no lock held) while the working folder stays.
void StageRelease(DriveStage& stage);
// Takes the image again; when it changed since it was let go (an emulator ran Windows), the
// working folder is staged anew from it and true returned.
bool StageAcquire(DriveStage& stage);
// Releases the image and removes the working folder; what was not written back is lost.
void StageClose(DriveStage& stage);
// Whether a stage is open.
bool StageIsOpen(const DriveStage& stage);
// How a user is shown a path below the staged root: "win98.img:C:\WINDOWS\LOGOW.SYS".
std::string StageShownName(const DriveStage& stage, const std::string& rel);
