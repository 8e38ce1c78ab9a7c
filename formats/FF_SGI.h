// Silicon Graphics images: read verbatim or run-length, 1 to 4 channels of one byte;
// written run-length encoded with 3 or 4 channels.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void SGILoad(const std::string& name, Image& img);
void SGISave(const std::string& name, Image& img);
