// WebP (lossy, lossless, with or without alpha; not animated) through the codec library's row
// decoder. Read only.
#pragma once

#include <cstdint>
#include <string>

#include "image/ImgBasic.h"

struct WebpRows;

// Opens the row decoder: raises the WebP errors (damaged file, too large, animated).
void WEBPOpen(const std::string& name, WebpRows*& rows, int32_t& width, int32_t& height);
// The next row, blue green red.
void WEBPNextRow(WebpRows* rows, uint8_t* row);
void WEBPClose(WebpRows*& rows);
// A 24-bit image of the picture (the colours under any transparency).
void WEBPLoad(const std::string& name, Image& img);
