// Paths of the managed drive. The drive root is the parent of the Windows folder. Its files and
// folders are found ignoring letter case, as FAT does, so an existing "LOGOW.SYS" is the file
// "logow.sys" names and no second spelling is ever created. Paths written down in files (the
// settings, win.ini, restore.bat) use the Windows form with the drive root as "C:\", so they
// follow the drive wherever it is mounted and can be used by Windows itself.
#pragma once

#include <string>

// The drive root with a trailing '/'; empty when the Windows folder is unknown.
std::string DriveRoot();
// The entry of folder whose name equals name ignoring letter case: name itself when it exists,
// else the first such entry in name order; empty text when there is none.
std::string DriveFindName(const std::string& folder, const std::string& name);
// path with every existing folder and file below the drive root found ignoring letter case;
// parts that do not exist keep their spelling. A path off the drive is returned unchanged.
std::string DriveResolve(const std::string& path);
// Whether path lies inside the drive, both as written (after "." and "..") and where it really
// leads (symbolic links followed as far as they exist).
bool DriveContains(const std::string& path);
// Whether path names a place of the drive that a symbolic link takes off it. Such a folder is
// not used, whether the program found it by its default name or a setting named it.
bool DriveLeadsOff(const std::string& path);
// Whether text starts with a drive letter, a colon and a separator ("C:\", "d:/").
bool DriveIsWinPath(const std::string& text);
// A host path in the drive in Windows form: "C:\" and the parts below the root joined with '\'
// (a trailing separator kept); empty text for a path off the drive.
std::string DriveToWin(const std::string& path);
// A Windows path of the drive ("C:\...", any case, '\' or '/') as host path below the current
// drive root, found ignoring case; empty text for another letter, a path without a letter or
// one that leaves the root (through ".." or a link).
std::string DriveFromWin(const std::string& text);
// A path as read from a file: the Windows form mapped to the drive, a host path inside the drive
// (written by earlier versions) resolved; empty text for anything else.
std::string DriveFromStored(const std::string& text);
// The text a path is written down as: its Windows form when it is on the drive, else itself.
std::string DriveStoredText(const std::string& path);
// A file of a disk image's drive is copied out of the image only when it is read: a reader of a
// stored picture calls this first. Nothing for a folder drive or a file that is there already.
void DriveFetch(const std::string& path);
// Installs what fetches a file (the open disk image); nullptr for none.
void DriveSetFetcher(void (*fetch)(const std::string& path));
