#include "core/LogoBuilder.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "platform/Prefs.h"
#include "base/SafeFile.h"
#include "core/Backup.h"
#include "core/ImageStore.h"
#include "core/LogoFit.h"
#include "core/Settings.h"
#include "core/TextImage.h"
#include "formats/FFDispatch.h"
#include "image/PalOpt.h"
#include "platform/DrivePath.h"
#include "platform/FileAttr.h"
#include "platform/SysInfo.h"
#include "platform/TextRender.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

constexpr int BAND_ROWS = 6;
constexpr int BAND_COLS = 4;

int Clamp_(int v, int lo, int hi) { return ClampInt(v, lo, hi); }

std::string Trim_(const std::string& s)
{
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Steps an index within s..e, wrapping at both ends.
int Wrap_(int v, int s, int e) { return v < s ? e : v > e ? s : v; }

}  // namespace

void ShiftPaletteForLogo(Image& img)
{
    TRACE("LogoBuilder.ShiftPaletteForLogo");
    if (img.Bpp != 8 || !img.Data) return;
    std::memmove(img.Pal[1], img.Pal[0], LOGO_COLORS * 3);
    std::memset(img.Pal[0], 0, 3);
    std::memset(img.Pal[LOGO_BAND_START], 0, LOGO_BAND_ENTRIES * 3);
    uint8_t* p = img.Data;
    const int64_t n = static_cast<int64_t>(img.Width) * img.Height;
    for (int64_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(p[i] + 1);
}

void ReduceToLogoPalette(Image& img)
{
    TRACE("LogoBuilder.ReduceToLogoPalette");
    MonBlock([&] {
        Image temp;
        ImgAllocNamed(temp, img.Width, img.Height, "LogoBuilder.ReduceToLogoPalette.temp", __LINE__, 8);
        PalInit();
        PalClearVars();
        PalCountColors(img);
        PalReduce(LOGO_COLORS);
        PalRemap(img, temp, PAL_REMAP_ORDERED);
        PalDone();
        ImgXchg(img, temp);
        ImgFree(temp);
        ShiftPaletteForLogo(img);
    });
}

void MakeBandPalette(uint8_t palette[256][3], int start, int32_t color1, int32_t color2, int move)
{
    TRACE("LogoBuilder.MakeBandPalette");
    const int c1[3] = {color1 & 0xFF, (color1 >> 8) & 0xFF, (color1 >> 16) & 0xFF};  // red, green, blue
    const int c2[3] = {color2 & 0xFF, (color2 >> 8) & 0xFF, (color2 >> 16) & 0xFF};
    auto set = [&](int entry, const int rgb[3]) {
        if (entry < 0 || entry > 255) return;
        palette[entry][0] = static_cast<uint8_t>(rgb[2]);
        palette[entry][1] = static_cast<uint8_t>(rgb[1]);
        palette[entry][2] = static_cast<uint8_t>(rgb[0]);
    };
    for (int i = 0; i < LOGO_BAND_ENTRIES; ++i) {
        static const int black[3] = {0, 0, 0};
        if (move == 0) {
            int d = i < 10 ? i : 19 - i;
            int mix[3];
            for (int c = 0; c < 3; ++c) mix[c] = (c2[c] * d) / 9 + (c1[c] * (9 - d)) / 9;
            set(start + i, mix);
        } else if (move == 1) {
            set(start + i, (i / 5) % 2 == 0 ? c2 : c1);
        } else {
            set(start + i, black);
        }
    }
}

void DrawBand(Image& img, int start, int shape, int move)
{
    TRACE("LogoBuilder.DrawBand");
    if (img.Bpp != 8 || !img.Data || img.Width <= 0 || img.Height <= 0) return;
    const int W = img.Width, H = img.Height;
    const int s = Clamp_(start, 0, 255), e = Clamp_(s + LOGO_BAND_ENTRIES - 1, s, 255);
    auto pixel = [&](int x, int y) -> uint8_t& { return img.Data[static_cast<int64_t>(y) * W + x]; };

    auto horizontal = [&](int x, int y, int w, int h) {
        int x0 = Clamp_(x, 0, W - 1), x1 = Clamp_(x0 + w - 1, x0, W - 1);
        int y0 = Clamp_(y, 0, H - 1), y1 = Clamp_(y + h - 1, y0, H - 1);
        int odd = e, even = e;
        for (int col = x0; col <= x1; ++col) {
            for (int row = y0; row <= y1; ++row) pixel(col, row) = static_cast<uint8_t>(row % 2 ? odd : even);
            if (move == 0) {
                if (col % 2) odd = Wrap_(odd - 1, s, e);
                else even = odd;
            } else if (move == 1) {
                if (col % 4 == 0) odd = Wrap_(odd - 1, s, e);
                even = odd;
            }
        }
    };
    auto vertical = [&](int x, int y, int w, int h) {
        int x0 = Clamp_(x, 0, W - 1), x1 = Clamp_(x0 + w - 1, x0, W - 1);
        int y0 = Clamp_(y, 0, H - 1), y1 = Clamp_(y + h - 1, y0, H - 1);
        int odd = s, even = s;
        for (int row = y0; row <= y1; ++row) {
            for (int col = x0; col <= x1; ++col) pixel(col, row) = static_cast<uint8_t>(col % 2 ? odd : even);
            if (move == 0) {
                if (row % 2) odd = Wrap_(odd + 1, s, e);
                else even = odd;
            } else if (move == 1) {
                if (row % 4 == 0) odd = Wrap_(odd + 1, s, e);
                even = odd;
            }
        }
    };
    switch (shape) {
    case 0: horizontal(0, 0, W, BAND_ROWS); break;
    case 1: horizontal(0, H - BAND_ROWS, W, BAND_ROWS); break;
    case 2:
        vertical(0, 0, BAND_COLS, H);
        vertical(W - BAND_COLS, 0, BAND_COLS, H);
        break;
    default: break;
    }
}

int FindLogoColor(int32_t color, const uint8_t palette[256][3], int count)
{
    TRACE("LogoBuilder.FindLogoColor");
    const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    count = Clamp_(count, 1, 256);
    int best = 0, bestDist = 0x7FFFFFFF;
    for (int i = 0; i < count; ++i) {
        int dr = palette[i][2] - r, dg = palette[i][1] - g, db = palette[i][0] - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    if (bestDist <= 8000) return best;
    return PalNearest(r, g, b, count, palette);
}

LogoMessageFont LogoMessageFontSet()
{
    LogoMessageFont f;
    f.Name = FontName;
    f.Size = FontSize;
    f.Bold = FontBold;
    f.Italic = FontItalic;
    f.Underline = FontUnderline;
    f.Strikeout = FontStrikeout;
    f.CharSet = FontCharSet;
    return f;
}

// The point size a message is rendered at: the font's size is meant for a 96-ppi screen.
static int MessagePointSize_(const LogoMessageFont& font)
{
    const int ppi = TextScreenPPI();
    return Clamp_(ppi > 0 ? TextMulDiv(font.Size, 96, ppi) : font.Size, 4, 128);
}

// Everything of a message line's text parameters but its colours.
static void MessageParams_(const LogoMessageFont& font, TextParams& params)
{
    InitTextParams(params);
    params.FontName = font.Name.substr(0, 32);
    params.PointSize = MessagePointSize_(font);
    params.Style = (font.Bold ? 1 : 0) | (font.Italic ? 2 : 0) | (font.Underline ? 4 : 0) | (font.Strikeout ? 8 : 0);
    params.CharSet = font.CharSet;
    params.Effect = 2;
    params.OffsetX = 1;
    params.OffsetY = 1;
    params.Transparent = true;
}

int DrawMessageLine(Image& img, const std::string& line, int x, int y, int32_t textColor, int32_t borderColor)
{
    TRACE("LogoBuilder.DrawMessageLine");
    const LogoMessageFont font = LogoMessageFontSet();
    if (line.empty()) return MessagePointSize_(font);
    TextParams params;
    MessageParams_(font, params);
    params.TextIndex = FindLogoColor(textColor, img.Pal, LOGO_BAND_START);
    params.BorderIndex = FindLogoColor(borderColor, img.Pal, LOGO_BAND_START);
    int t = 0;
    while (t == params.TextIndex || t == params.BorderIndex) ++t;
    params.BackIndex = t;
    InsertTextImage(img, line, x, params, y);
    return params.TextHeight;
}

std::vector<std::string> LogoMessageLinesPastEdge(const std::string& message, const LogoMessageFont& font)
{
    TRACE("LogoBuilder.LogoMessageLinesPastEdge");
    std::vector<std::string> past;
    size_t start = 0;
    while (start <= message.size()) {
        const size_t end = std::min(message.find("\r\n", start), message.size());
        const std::string line = message.substr(start, end - start);
        start = end + 2;
        if (Trim_(line).empty()) continue;
        TextParams params;
        MessageParams_(font, params);
        params.TextIndex = 1;
        params.BorderIndex = 2;
        Image text;
        MonBlockTransparent([&] { MakeTextImage(text, line, params); });
        const bool measured = MonOK();
        MonClearError();
        ImgFree(text);
        if (measured && LOGO_MESSAGE_LEFT + params.ImageWidth > LOGO_WIDTH) past.push_back(line);
    }
    return past;
}

void DrawMessage(Image& img, const std::string& message)
{
    TRACE("LogoBuilder.DrawMessage");
    if (Trim_(message).empty()) return;
    int y = 12;
    size_t start = 0;
    while (y < LOGO_HEIGHT) {
        size_t end = message.find("\r\n", start);
        std::string line = message.substr(start, end == std::string::npos ? std::string::npos : end - start);
        int h = DrawMessageLine(img, line, LOGO_MESSAGE_LEFT, y, TextColor, TextBorderColor);
        // A zero height would never reach the bottom; treat it as one row.
        y += h > 0 ? h : 1;
        if (end == std::string::npos) break;
        start = end + 2;
    }
}

bool WriteLogoFile(const std::string& path, Image& img, int32_t animStart)
{
    TRACE("LogoBuilder.WriteLogoFile");
    bool ok = false;
    try {
        MonBlock([&] {
            ok = SafeWriteWith(path, [&](const std::string& temp) {
                ImgSave(temp, img, 3);
                if (animStart == Undef) return;
                int h = Undef;
                FOpen(h, temp, FM_WRITE);
                FSeek(h, LOGO_ANIM_OFFSET);
                const uint8_t patch[2] = {static_cast<uint8_t>(animStart & 0xFF), 0};
                FWrite(h, patch, 2);
                FClose(h);
            });
        });
    } catch (const EMon&) {
        ok = false;
    }
    return ok;
}

int32_t ReadLogoAnimStart(const std::string& path)
{
    TRACE("LogoBuilder.ReadLogoAnimStart");
    int32_t result = Undef;
    try {
        MonBlock([&] {
            int h = Undef;
            uint8_t b = 0;
            FOpen(h, path, FM_READ);
            FSeek(h, LOGO_ANIM_OFFSET);
            FRead(h, &b, 1);
            FClose(h);
            result = b;
        });
    } catch (const EMon&) {
        result = Undef;
    }
    return result;
}

// Errors of this unit that carry their own text.
constexpr int32_t LOGO_ERROR_CLASS = 2;

[[noreturn]] static void Fail_(const std::string& text)
{
    MonErrorMsg(LOGO_ERROR_CLASS, text, __LINE__);
    throw EMon(text);  // not reached inside a block
}

std::string LogoPositionName(int position)
{
    TRACE("LogoBuilder.LogoPositionName");
    switch (position) {
    case POS_STARTUP: return "Startup";
    case POS_WAIT: return "Wait";
    case POS_TURNOFF: return "Turn Off";
    default: return "?";
    }
}

// A picture copied into the store by hand or unpacked from a gallery may be any size and depth:
// it is fitted and reduced as adding does, so every logo file is a proper logo. Whether it was.
static bool FitStoredImage_(Image& img)
{
    TRACE("LogoBuilder.FitStoredImage_");
    if (img.Bpp == 8 && img.Width == LOGO_WIDTH && img.Height == LOGO_HEIGHT) return false;
    LogoFitImage(img, ResizeMode);
    ReduceToLogoPalette(img);
    return true;
}

void LogoBuildImage(const ImageEntry& entry, int position, const std::string& message, Image& img,
                    int32_t& animStart)
{
    TRACE("LogoBuilder.LogoBuildImage");
    const std::string name = EntryName(entry);
    animStart = Undef;
    MonBlock([&] {
        if (!IsSafeStoredName(name)) Fail_("No image to build the " + LogoPositionName(position) + " logo from.");
        if (!LoadStoredImage(GetStorageDir() + name, img)) Fail_("Couldn't load the stored image \"" + name + "\".");
        const bool refitted = FitStoredImage_(img);
        if (!Trim_(message).empty()) DrawMessage(img, message);
        if (!(AnimEnabled && position == POS_STARTUP)) return;
        if (entry.FromLogoFile && !refitted) {
            animStart = entry.AnimStart;
            return;
        }
        animStart = LOGO_BAND_START;
        if (img.Bpp == 8) {
            MakeBandPalette(img.Pal, LOGO_BAND_START, AnimColor1, AnimColor2, AnimMove);
            DrawBand(img, LOGO_BAND_START, AnimShape, AnimMove);
        }
    });
}

void BuildLogo(const ImageEntry& entry, int position, const std::string& message)
{
    TRACE("LogoBuilder.BuildLogo");
    const std::string path = GetLogoFileName(position);
    Image img;
    try {
        MonBlock([&] {
            if (path.empty()) Fail_("No file is set for the " + LogoPositionName(position) + " logo.");
            int32_t animStart = Undef;
            LogoBuildImage(entry, position, message, img, animStart);
            // Without its backup the old logo would be lost for good.
            if (!BackupLogoFile(path)) Fail_("Couldn't back up \"" + path + "\"; the logo was not replaced.");
            if (!WriteLogoFile(path, img, animStart)) Fail_("Couldn't write the logo file \"" + path + "\".");
        });
    } catch (...) {
        ImgFree(img);
        throw;
    }
    ImgFree(img);
}

bool EnsureLogoOptionInMsdosSys()
{
    TRACE("LogoBuilder.EnsureLogoOptionInMsdosSys");
    const std::string path = DriveResolve(SysDriveRoot() + "MSDOS.SYS");
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    int attrs = FileGetAttr(path);
    if (attrs < 0) attrs = 1;
    FileSetAttr(path, 32);
    PrefsPrepare(path, "Options");
    if (PrefsReadInt("Logo", 1) != 1) PrefsWriteInt("Logo", 1);
    const bool ok = PrefsFlushCache();
    FileSetAttr(path, attrs);
    return ok;
}
