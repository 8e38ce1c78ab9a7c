// HEIC and AVIF (the primary picture of a HEIF file) through libheif, which turns the picture
// as the file's rotation and mirror properties say. Read only.
#pragma once

#include <string>

#include "image/ImgBasic.h"

// A 24-bit image of the primary picture, upright.
void HEIFLoad(const std::string& name, Image& img);
