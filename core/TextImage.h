// Text images: one line of text rendered into a small 8-bit image, optionally with a drop
// shadow or an outline, and inserted into a target image with the background left out.
#pragma once

#include <cstdint>
#include <string>

struct Image;

// Style bits of TextParams.Style.
enum { TS_BOLD = 1, TS_ITALIC = 2, TS_UNDERLINE = 4, TS_STRIKEOUT = 8 };
// TextParams.Effect.
enum { TE_NONE = 0, TE_SHADOW = 1, TE_BORDER = 2 };

// The fields in their traditional order; the record is never stored, so the face name is a plain string.
struct TextParams {
    std::string FontName;    // at most 32 characters are used
    int32_t PointSize = 0;
    int32_t Style = 0;
    int32_t CharSet = 0;
    int32_t OffsetX = 0;     // shadow offset or border thickness
    int32_t OffsetY = 0;
    int32_t BackIndex = 0;
    int32_t TextIndex = 0;
    int32_t BorderIndex = 0;
    int32_t Effect = 0;
    uint32_t BackRGB = 0;    // red in the lowest byte
    uint32_t TextRGB = 0;
    uint32_t BorderRGB = 0;
    int32_t Transparent = 0; // boolean
    int32_t ImageWidth = 0, ImageHeight = 0;  // output: size of the finished text image
    int32_t TextWidth = 0, TextHeight = 0;    // output: extent of the text in the font
};

void InitTextParams(TextParams& params);
void InsertTextImage(Image& target, const std::string& text, int x, TextParams& params, int y);
void MakeTextImage(Image& image, const std::string& text, TextParams& params);
void Text_MakeSprite(Image& image, const std::string& text, TextParams& params);
void CreateTextImg(Image& image, int width, int height, const TextParams& params, const uint8_t* bits, int bitsPerPixel);
void StampColor(Image& dest, const Image& src, int x, int y, int match, int write);
void SetTextPalette(Image& image, const TextParams& params);
