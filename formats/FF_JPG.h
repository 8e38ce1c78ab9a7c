// JPEG reader and writer over the codec library's whole-file functions.
#pragma once

#include <cstdint>
#include <string>

#include "image/ImgBasic.h"

// What JPGInfo reports about a JPEG file.
struct JPGInfoRec {
    int64_t FileSize = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Components = 0;  // 1 grey, 3 colour
    int32_t Bpp = 0;         // Components * 8
    int32_t Pictures = 0;    // always 1
    std::string Format;      // "JFIF 1.02"
};

void JPGInfo(const std::string& name, JPGInfoRec& info);
// Grey files give 8-bit images with the grey ramp, all others 24-bit images.
void JPGLoad(const std::string& name, Image& img);
// Writes a baseline JPEG at quality 85.
void JPGSave(const std::string& name, Image& img);
