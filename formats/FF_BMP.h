// BMP/DIB reading and writing.
#pragma once

#include <string>

#include "image/ImgBasic.h"

// Reads Windows and OS/2 bitmaps; writes Windows 3 bitmaps of the image's depth.
void DIBLoad(const std::string& name, Image& img);
void DIBSave(const std::string& name, Image& img);
