// PNG reader and writer over libpng. The image store keeps every collected image as PNG.
#pragma once

#include <cstdint>
#include <string>

#include "image/ImgBasic.h"

// Reads any PNG: 16-bit samples are reduced to 8, alpha is dropped, grey and palette files
// give 8-bit images (grey with the grey ramp), colour files 24-bit ones.
void PNGLoad(const std::string& name, Image& img);
// Writes an 8-bit image as a 256-entry palette PNG, any other depth as 24-bit RGB.
void PNGSave(const std::string& name, Image& img);
// The compression level PNGSave uses (default 6); value is clamped to 0..9, Undef only reads it.
int32_t PNGCompressionLevel(int32_t value);

struct png_struct_def;
// A reader's libpng never takes the EXIF chunk (its orientation is read apart, see FFSniff):
// libpng would allocate whatever length the chunk claims before reading a byte of it.
void PNGSkipExif(png_struct_def* png);
