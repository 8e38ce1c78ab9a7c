// The managed drive of this run: which one it is (--drive, $KVS_DRIVE, $KVS_WINDOWS_DIR, the
// drive last opened in the window, the demo drive, in this order), opening it (a disk image is
// staged in a working folder) and writing a disk image's changes back.
#pragma once

#include <string>
#include <vector>

#include "app/DriveChoice.h"


// Takes "--drive PATH" and "--partition N" (also "--drive=PATH") out of args, up to the first
// argument that is not an option when stopAtCommand is set. False with problem set on bad usage.
bool DriveUseTakeOptions(std::vector<std::string>& args, bool stopAtCommand, std::string& problem);
// The drive given on the command line (empty path: none).
void DriveUseSetOption(const std::string& path, int partition);
DriveChoice DriveUseChoose();
// Opens choice and makes its Windows folder the program's; the drive open before is closed
// first (without writing back). Raises through the error monitor.
void DriveUseOpen(const DriveChoice& choice);
// Opens the chosen drive unless one is open. A remembered drive that cannot be opened any more
// gives a warning and the demo drive.
void DriveUseOpenChosen();
const DriveChoice& DriveUseCurrent();
bool DriveUseIsImage();
// Writes the changes of a disk image back (nothing for a folder drive); the number written.
// Raises naming what could not be written.
int DriveUseCommit();
// The window works on a disk image only while a command runs. Begin takes the image again and,
// when it changed meanwhile (an emulator ran Windows), re-reads it and calls the reload hook.
// Begin and End pair up; a command run inside another is part of it.
void DriveUseBegin();
// Writes the command's changes back and lets the image go. When that fails the drive is re-read
// from the image (reload hook) and the error raised.
void DriveUseEnd();
// What the window does when the drive was re-read under it: load settings and store again.
void DriveUseSetReloadHook(void (*hook)());
// Closes the drive; changes of a disk image not committed are dropped.
void DriveUseClose();
// What the status line and "kvs paths" show: "/path/to/drive" or "/path/win98.img, partition 1".
std::string DriveUseText();
// A path as the user is shown it. On a disk image a path of its working folder's drive becomes
// the image's name and the Windows path inside it ("win98.img:C:\WINDOWS\LOGOW.SYS"), as the
// working folder vanishes with the run; any other path is returned unchanged.
std::string DriveUseShownPath(const std::string& path);
// text (a message) with every path of the working folder's drive in it shown as above; each
// runs to a quote or the line's end, shortened to the longest part that exists.
std::string DriveUseShownText(const std::string& text);
// Remembers path as the drive last opened in the window (Kvs.ini).
void DriveUseRemember(const DriveChoice& choice);
// The window opens another drive: the settings are saved and the open drive committed, then
// choice is opened, the settings loaded again for it and remembered. When choice cannot be
// opened the drive open before is opened again and the error raised.
void DriveUseSwitch(const DriveChoice& choice);
// The lines "kvs paths" adds: "drive=PATH" and, for a disk image, "partition=N" (0: a bare file
// system without a partition table).
std::string DriveUsePathLines();
