// Portable anymaps: PGM and PPM read in ASCII and binary form, written as binary PPM.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void PNMLoad(const std::string& name, Image& img);
void PNMSave(const std::string& name, Image& img);
