// Picking images and messages for the three positions: the automatic change at every Windows
// start ("/change"), the Shuffle command, and the counters of the sequential pick methods.
#pragma once

#include <cstdint>
#include <string>

#include "core/Outcome.h"

struct ImageEntry;

// A number in 0..count-1 by method (0 sequential, 1 random, 2 first only), Undef when count <= 0;
// updates counter as the method says.
int32_t PickIndex(int32_t& counter, int32_t count, int32_t method);
// List index of the picked eligible image of position, or Undef.
int32_t PickImageForPosition(int position);
// Copies the picked entry into entry (zero-filled when none) and tells whether one was picked.
bool CopyPickedEntry(int position, ImageEntry& entry);
int CountParts(const std::string& text, const std::string& separator);
// The n-th part (0 = from the start); false when fewer than n separators exist.
bool GetPart(const std::string& text, const std::string& separator, int n, std::string& part);
std::string PickMessage(int position, const std::string& text);
// Builds the logo of position with the picked message; raises when the file was not replaced.
void BuildLogoWithMessage(const ImageEntry& entry, int position);
// Picks and builds the three logos by the pick methods; a position without an eligible image
// keeps its file (a skipped item).
Outcome ChangeLogos();
// Seeds the random generator (once at start-up); tests seed it to get repeatable picks.
void ShuffleSeed(uint32_t seed);
