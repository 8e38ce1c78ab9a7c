// Picking images and messages for the three positions: the automatic change at every Windows
// start ("/change"), the Shuffle command, and the counters of the sequential pick methods.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/Outcome.h"

struct ImageEntry;

// Pick methods (LogoPickMethod, MsgPickMethod).
enum { PICK_SEQUENTIAL = 0, PICK_RANDOM = 1, PICK_FIRST = 2 };

// A number in 0..count-1 by method (0 sequential, 1 random, 2 first only), Undef when count <= 0;
// updates counter as the method says.
int32_t PickIndex(int32_t& counter, int32_t count, int32_t method);
// List index of the picked eligible image of position by method (LogoPickMethod's values), or Undef.
int32_t PickImageForPosition(int position, int32_t method);
// Copies the picked entry into entry (zero-filled when none) and tells whether one was picked.
bool CopyPickedEntry(int position, int32_t method, ImageEntry& entry);
int CountParts(const std::string& text, const std::string& separator);
// The n-th part (0 = from the start); false when fewer than n separators exist.
bool GetPart(const std::string& text, const std::string& separator, int n, std::string& part);
std::string PickMessage(int position, const std::string& text);
// The message of position as a change draws it: picked by MsgPickMethod when the position's
// message is enabled, else empty with its counter left alone.
std::string PickLogoMessage(int position);
// Builds the logo of position with the picked message; raises when the file was not replaced.
void BuildLogoWithMessage(const ImageEntry& entry, int position);
// Builds one logo from a picked image and message; raises when it was not written.
using LogoBuildProc = std::function<void(const ImageEntry& entry, int position, const std::string& message)>;
// The picks of one change: for Startup, Wait and Turn Off in this order an image by logoMethod and
// its message, each handed to build; the counters move in memory only. A position without an
// eligible image is a skipped item, a failed build an error, and the others still run.
void ChangeLogosWith(int32_t logoMethod, const LogoBuildProc& build, Outcome& o);
// Picks and builds the three logo files, images by logoMethod, and saves the counters; a position
// without an eligible image keeps its file (a skipped item).
Outcome ChangeLogos(int32_t logoMethod);
// Seeds the random generator (once at start-up); tests seed it to get repeatable picks.
void ShuffleSeed(uint32_t seed);
