// TIFF reader and writer over libtiff.
#pragma once

#include <string>

#include "image/ImgBasic.h"

// Reads 8-bit-per-sample TIFF files (uncompressed, LZW, JPEG, PackBits or Deflate) into
// 8-bit (grey or palette), 24-bit or 32-bit images.
void TIFLoad(const std::string& name, Image& img);
// Writes an 8-bit image as a palette TIFF, any other depth as 24-bit RGB; uncompressed.
void TIFSave(const std::string& name, Image& img);
