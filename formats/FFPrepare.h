// Writer preparation: the depth each writing format takes and the image a writer encodes
// (FFInit/FFDone). Below the writers, which all prepare their image here, and the dispatch.
#pragma once

#include <cstdint>

#include "base/Basic.h"
#include "formats/FFFormatIds.h"
#include "image/ImgBasic.h"

// Writer preparation: img is what the writer encodes, either the caller's image or temp_img.
// The record must stay where FFInit filled it until FFDone (temp_img's block is registered
// under the address of its Data field).
struct FFInfo {
    Image* img = nullptr;
    Image temp_img;
    bool temp_used = false;
};

// Depth a writer of format receives for an image of bpp bits, 0 for no pictures,
// Undef for a format not in the writer depth table.
int32_t FFTargetBpp(int32_t format, int32_t bpp);

// Prepares the image a writer encodes (sides 4..4096, depth from FFTargetBpp, padded to
// align); raises class 14 code 1 "Invalid movie format." when it cannot. The caller's
// image is never changed.
void FFInit(int32_t format, FFInfo& ffi, Image& image, int align);
void FFDone(FFInfo& ffi);
