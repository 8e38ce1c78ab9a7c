// BAY: the raw Bayer-mosaic dump of a digital camera (512 x 144 or 512 x 384 samples and a
// 1024-byte trailer). Read only.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void BayLoad(const std::string& name, Image& img);
