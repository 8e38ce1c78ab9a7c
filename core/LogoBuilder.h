// Builds the three logo files from stored images: message text, the animated colour band of
// the Startup logo, the 8-bit bitmap with the first animated palette entry in byte 50.
//
// Logo palette: entry 0 black, 1-235 the picture's colours, 236-255 the band.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/LogoFit.h"
#include "image/ImgBasic.h"

struct ImageEntry;

constexpr int LOGO_BAND_START = 236;
constexpr int LOGO_BAND_ENTRIES = 20;
constexpr int LOGO_COLORS = 235;
constexpr int LOGO_FILE_SIZE = 54 + 1024 + LOGO_WIDTH * LOGO_HEIGHT;  // 129078
constexpr int LOGO_ANIM_OFFSET = 50;

// "Startup", "Wait" or "Turn Off".
std::string LogoPositionName(int position);
// The logo picture of position (1, 2 or 4) from entry with message drawn on it and, on the
// Startup logo, the band; nothing is written. animStart gets the value for byte 50 (Undef for
// none). Raises when the stored image cannot be loaded.
void LogoBuildImage(const ImageEntry& entry, int position, const std::string& message, Image& img,
                    int32_t& animStart);
// Builds the logo and replaces the logo file of position, after backing up the old one. Raises
// with the error text when the file was not replaced (no file set, no backup, no image, no write).
void BuildLogo(const ImageEntry& entry, int position, const std::string& message);

void ReduceToLogoPalette(Image& img);
void ShiftPaletteForLogo(Image& img);
// color1/color2 are Windows colours (red in the lowest byte).
void MakeBandPalette(uint8_t palette[256][3], int start, int32_t color1, int32_t color2, int move);
void DrawBand(Image& img, int start, int shape, int move);
int FindLogoColor(int32_t color, const uint8_t palette[256][3], int count);
void DrawMessage(Image& img, const std::string& message);

// Message lines start this far from the logo's left edge.
constexpr int LOGO_MESSAGE_LEFT = 8;
// The font message lines are drawn in.
struct LogoMessageFont {
    std::string Name;
    int32_t Size = 0;
    bool Bold = false, Italic = false, Underline = false, Strikeout = false;
    int32_t CharSet = 0;
};
// The font of the settings (FontName, FontSize, the style and character set).
LogoMessageFont LogoMessageFontSet();
// The lines of message (CR LF between them) that, drawn in font, run off the logo's right edge;
// empty when every line fits. For a warning before the logo is built: the logo just cuts them.
std::vector<std::string> LogoMessageLinesPastEdge(const std::string& message, const LogoMessageFont& font);
int DrawMessageLine(Image& img, const std::string& line, int x, int y, int32_t textColor, int32_t borderColor);

// Writes the bitmap (temporary file, byte 50 patched when animStart is not Undef, renamed over path).
bool WriteLogoFile(const std::string& path, Image& img, int32_t animStart);
// The byte at offset 50 of a logo file; Undef when it cannot be read.
int32_t ReadLogoAnimStart(const std::string& path);
// Makes sure "Logo=1" stands in section "Options" of MSDOS.SYS, keeping its attributes; false
// when the file could not be written.
bool EnsureLogoOptionInMsdosSys();
