// Zsoft Paintbrush reading and writing.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void PCXLoad(const std::string& name, Image& img);
// 8-bit images with their palette, 24-bit images as three planes.
void PCXSave(const std::string& name, Image& img);
