// The drives the front-ends offer: those the search finds (numbered as "kvs drives" prints
// them), the last eight used in the window and the folders the user added to the search, both
// kept in the [Drives] section of Kvs.ini.
#pragma once

#include <string>
#include <vector>

#include "app/DriveChoice.h"
#include "platform/DriveFind.h"

constexpr int DRIVE_RECENT_MAX = 8;

// The search over this user's places and the added folders. Within one run the first search is
// kept (a number given to --drive means what "kvs drives" listed); again searches anew.
const DriveSearch& DriveListFound(bool again = false);
// Whether found is the drive open now (the first partition of an image opened with partition 0).
bool DriveListIsCurrent(const DriveSearch& search, size_t index, const DriveChoice& now, bool nowIsImage);
// A choice naming a number of the list ("--drive 2", no file of that name) as the drive it
// stands for; any other choice unchanged. Raises for a number beyond the list or a refused image.
DriveChoice DriveListResolve(const DriveChoice& choice);

// The drives used last in the window, the latest first (at most DRIVE_RECENT_MAX).
std::vector<DriveChoice> DriveListRecent();
// Puts choice first among the recent drives of file (Kvs.ini, under the caller's settings lock);
// the flush is the caller's. The demo drive is not kept.
bool DriveListPutRecent(const DriveChoice& choice, const std::string& file);

std::vector<std::string> DriveListFolders();
// Adds dir to the folders the search looks in and saves; false (and an error) when it cannot.
bool DriveListAddFolder(const std::string& dir);

// Whether the window has offered the found drives once; marks it so.
bool DriveListOffered();
void DriveListSetOffered();
