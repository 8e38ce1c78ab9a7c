// The automatic change at the starts of a real Windows 95/98. Windows shows LOGO.SYS, then runs
// AUTOEXEC.BAT in real-mode DOS before it loads, so the change happens there without any program
// of ours inside Windows: a rotation folder in the Windows folder holds the logo sets that the next
// starts will use, made by the pick methods and counters as "/change" would make them; a DOS batch
// file in it copies the next set over the logo files and moves its marker on (after the last set
// it starts again at the first); one guarded line at the end of the drive's AUTOEXEC.BAT calls it.
// When the program next changes the drive it counts the sets Windows used, moves the counters on
// by exactly those picks and prepares the sets anew.
//
// The logo shown at a start is the one prepared at the start before it (LOGO.SYS is on the screen
// before AUTOEXEC.BAT runs); the Wait and Turn Off logos change within the same start.
#pragma once

#include <string>

#include "core/Outcome.h"

constexpr const char* AUTOCHANGE_FOLDER = "KVSROT";
constexpr const char* AUTOCHANGE_BATCH = "KVSROT.BAT";

// Whether the drive holds the step (the rotation folder with its record).
bool AutoChangeInstalled();
// Fills the rotation folder and adds the line to AUTOEXEC.BAT (created with CR LF when missing).
// Fewer sets than AutoChangeSets when the drive lacks room, said as a warning; without room for
// one set it fails and AUTOEXEC.BAT stays as it was.
Outcome AutoChangeInstall();
// Takes the line out of AUTOEXEC.BAT (the file byte for byte as before it was added, deleted when
// the program made it) and removes the rotation folder. Nothing when the step is not installed.
Outcome AutoChangeRemove();
// Counts the sets Windows used since they were prepared, moves the pick counters on by exactly
// those picks, then prepares the sets anew (AutoChangeRefill). Nothing when not installed.
Outcome AutoChangeCatchUp();
// Prepares the sets anew when what they are made of changed since (the store, the settings, the
// messages, the counters) or Windows used some. Nothing when not installed.
Outcome AutoChangeRefill();
// The sets Windows used since they were prepared: 0 up to their number (all of them once it went
// round).
int AutoChangeUsedSets();
