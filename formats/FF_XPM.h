// XPM reader and writer over the codec library's whole-file functions.
#pragma once

#include <string>

#include "image/ImgBasic.h"

// Reads an XPM 3 file into a 24-bit image.
void XPMLoad(const std::string& name, Image& img);
// Writes the image as an XPM 3 file (24-bit colours).
void XPMSave(const std::string& name, Image& img);
