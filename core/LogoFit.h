// Fitting a picture of any size and shape to the logo size, by the resize mode: with black
// borders, cropped, or stretched. Adding images fits what it stores; building a logo fits a stored
// image that is not logo-sized.
#pragma once

#include <cstdint>
#include <string>

struct Image;

constexpr int LOGO_WIDTH = 320;
constexpr int LOGO_HEIGHT = 400;

// Resize modes (the "ResizeMode" setting).
enum { RM_BORDER = 0, RM_CROP = 1, RM_STRETCH = 2 };

// The window of the first fitting step for a w x h picture: for crop the part cut out, for
// border the size of the black canvas and where the picture goes on it (x, y). Stretch and a
// picture of exactly 4:3 give the picture itself at (0, 0).
void LogoFitBox(int w, int h, int mode, int& boxW, int& boxH, int& x, int& y);
// Fits img to 320 x 400 by mode (24 bits afterwards); an image of that size is left alone.
void LogoFitImage(Image& img, int mode);
// Loads source (format as ImgLoad takes it) fitted as LogoFitImage would fit it, resampling the
// rows as they are decoded, so that a picture of any size needs little memory.
void LogoFitLoad(const std::string& source, int32_t format, int mode, Image& img);
