// Truevision Targa reading and writing.
#pragma once

#include <string>

#include "image/ImgBasic.h"

void TGALoad(const std::string& name, Image& img);
// Always run-length coded, bottom row first.
void TGASave(const std::string& name, Image& img);
