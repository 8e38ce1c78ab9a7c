// BMP/DIB, TGA and PCX readers and writers of our own (no codec library). The dispatcher
// is their only caller; the writers take the image as it is (8, 15, 16, 24 or 32 bits).
#pragma once

#include <cstdint>
#include <string>

#include "image/ImgBasic.h"

// format is FMT_TGA, FMT_PCX or FMT_BMP; anything else raises "Invalid image format.".
void ConLoad(const std::string& name, Image& img, int32_t format);
void ConSave(const std::string& name, Image& img, int32_t format);

// Run once at program end; clears the unit's state.
void ConDone();
