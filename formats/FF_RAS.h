// Sun raster files: read (types 0 to 3, depths 8, 24 and 32) and written byte-encoded.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void RASLoad(const std::string& name, Image& img);
void RASSave(const std::string& name, Image& img);
