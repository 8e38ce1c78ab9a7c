// Stand-in for the system font renderer: a font chosen by face name through fontconfig,
// rasterised by FreeType into a monochrome (two-level) bitmap, as a screen device context would.
#pragma once

#include <cstdint>
#include <string>

// Style of a font request, in the terms of a logical font.
struct TextFontSpec {
    std::string Face;      // face name; the closest installed face is used
    int CharHeight = 0;    // character (em) height in pixels
    int Weight = 400;      // 700 and above is bold
    bool Italic = false;
    bool Underline = false;
    bool Strikeout = false;
    int CharSet = 0;       // Windows character set of the 8-bit text
};

struct TextFont;  // opaque: the selected face and its size

// Screen pixels per inch used to turn points into pixels (96 unless the GUI sets the screen's value).
void TextSetScreenPPI(int ppi);
int TextScreenPPI();
// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int TextMulDiv(int a, int b, int c);

// nullptr when no usable face exists.
TextFont* TextFontCreate(const TextFontSpec& request);
void TextFontDelete(TextFont*& font);
// Family name of the face actually used ("DejaVu Sans").
std::string TextFontFamily(const TextFont* font);

// Extent of one line: the sum of the advance widths and the font's ascent + descent.
bool TextMeasure(TextFont* font, const std::string& text, int& width, int& height);
// Draws the line with its top-left corner at (0, 0) into a cleared 1-bit bitmap of width x height
// pixels (rows top first, rowBytes bytes each, most significant bit leftmost); a set bit is glyph.
// Returns the bit depth of the bitmap drawn (always 1), 0 on failure.
int TextDrawMono(TextFont* font, const std::string& text, uint8_t* bits, int width, int height, int rowBytes);
