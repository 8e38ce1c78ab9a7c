// Drawing an Image on a Qt surface: the palette as a colour table, the rectangle rules and the
// depth conversions of the GDI version, for a true-colour surface.
#pragma once

#include <cstdint>

#include <QImage>
#include <QRect>
#include <QVector>

#include "image/ImgBasic.h"

class QPainter;

// The 256 blue-green-red entries as an opaque colour table (what realising the palette gives on
// a surface without palette hardware).
QVector<QRgb> PalPut(const uint8_t pal[256][3]);
// The part of img that gets drawn: left/top past the image mean 0, a width or height of 0 or less
// means the whole side, and the rectangle is cut to the image.
QRect ImgPutRect(const Image& img, int left, int top, int width, int height);
// The whole image as a QImage of the same colours (8-bit with its palette, 15/16-bit words,
// 24/32-bit blue-green-red); a null QImage for an image without pixels.
QImage ImgToQImage(const Image& img);
// Draws the part (left, top, width, height) of img with its top-left corner at (x, y).
// ditherMode only matters for a surface with a hardware palette, which Qt never gives us.
void ImgPutEx(const Image& img, int left, int top, int width, int height, QPainter& dc, int ditherMode, int x,
              int y);
void ImgPut(const Image& img, QPainter& dc, int x, int y);
