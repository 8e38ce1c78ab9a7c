#include "platform/TextRender.h"

#include "base/CharSet.h"
#include "base/Mon.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cstring>
#include <string>

struct TextFont {
    FT_Face Face = nullptr;
    bool SynthBold = false;
    bool SynthItalic = false;
    bool Underline = false;
    bool Strikeout = false;
    int CharSet = 0;
    int Ascent = 0;     // pixels above the baseline
    int Descent = 0;    // pixels below it
    std::string Family;
};

static FT_Library ftLib_ = nullptr;
static bool ftTried_ = false;
static int screenPPI_ = 96;

void TextSetScreenPPI(int ppi)
{
    TRACE("TextRender.TextSetScreenPPI");
    if (ppi > 0 && ppi <= 2400) screenPPI_ = ppi;
}

int TextScreenPPI()
{
    TRACE("TextRender.TextScreenPPI");
    return screenPPI_;
}

int TextMulDiv(int a, int b, int c)
{
    TRACE("TextRender.TextMulDiv");
    if (c == 0) return -1;
    long long p = static_cast<long long>(a) * b;
    bool neg = (p < 0) != (c < 0);
    long long ap = p < 0 ? -p : p;
    long long ac = c < 0 ? -static_cast<long long>(c) : c;
    long long q = (ap + ac / 2) / ac;
    return static_cast<int>(neg ? -q : q);
}

static bool FtInit_()
{
    TRACE("TextRender.FtInit_");
    if (!ftTried_) {
        ftTried_ = true;
        if (FT_Init_FreeType(&ftLib_) != 0) ftLib_ = nullptr;
    }
    return ftLib_ != nullptr;
}

// The ANSI and default character sets share code page 1252; the others are taken as Latin-1.
static uint32_t CodePoint_(unsigned char c, int charSet)
{
    return charSet == 0 || charSet == 1 ? AnsiCodePoint(c) : c;
}

// fontconfig's best match for the request: file, face index, and the style it really has.
static bool MatchFont_(const std::string& family, bool bold, bool italic, std::string& file, int& index,
                       int& weight, int& slant)
{
    TRACE("TextRender.MatchFont_");
    // A message draws line after line in one font: the match is remembered, not repeated.
    struct Match {
        std::string family, file;
        bool bold, italic;
        int index, weight, slant;
    };
    static Match last{"", "", false, false, 0, 0, 0};
    if (!last.file.empty() && last.family == family && last.bold == bold && last.italic == italic) {
        file = last.file, index = last.index, weight = last.weight, slant = last.slant;
        return true;
    }
    if (!FcInit()) return false;
    FcPattern* pat = FcPatternCreate();
    if (!pat) return false;
    std::string fam = AnsiToUtf8(family);
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(fam.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res = FcResultNoMatch;
    FcPattern* m = FcFontMatch(nullptr, pat, &res);
    FcPatternDestroy(pat);
    if (!m) return false;
    FcChar8* f = nullptr;
    bool ok = FcPatternGetString(m, FC_FILE, 0, &f) == FcResultMatch && f;
    if (ok) {
        file = reinterpret_cast<const char*>(f);
        if (FcPatternGetInteger(m, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        if (FcPatternGetInteger(m, FC_WEIGHT, 0, &weight) != FcResultMatch) weight = FC_WEIGHT_REGULAR;
        if (FcPatternGetInteger(m, FC_SLANT, 0, &slant) != FcResultMatch) slant = FC_SLANT_ROMAN;
    }
    FcPatternDestroy(m);
    if (ok) last = Match{family, file, bold, italic, index, weight, slant};
    return ok;
}

static int Px_(FT_Pos v26)  // 26.6 to whole pixels, rounded
{
    return static_cast<int>((v26 + 32) >> 6);
}

TextFont* TextFontCreate(const TextFontSpec& request)
{
    TRACE("TextRender.TextFontCreate");
    if (!FtInit_() || request.CharHeight <= 0 || request.CharHeight > 4096) return nullptr;
    bool bold = request.Weight >= 600;
    std::string file;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    FT_Face face = nullptr;
    const std::string names[2] = {request.Face.empty() ? std::string("DejaVu Sans") : request.Face, "DejaVu Sans"};
    for (const std::string& n : names) {
        if (MatchFont_(n, bold, request.Italic, file, index, weight, slant) &&
            FT_New_Face(ftLib_, file.c_str(), index, &face) == 0)
            break;
        face = nullptr;
    }
    if (!face) return nullptr;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(request.CharHeight)) != 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    TextFont* font = new TextFont;
    font->Face = face;
    font->SynthBold = bold && weight < FC_WEIGHT_DEMIBOLD;
    font->SynthItalic = request.Italic && slant == FC_SLANT_ROMAN;
    font->Underline = request.Underline;
    font->Strikeout = request.Strikeout;
    font->CharSet = request.CharSet;
    font->Ascent = Px_(face->size->metrics.ascender);
    font->Descent = Px_(-face->size->metrics.descender);
    if (font->Ascent + font->Descent <= 0) {
        font->Ascent = request.CharHeight;
        font->Descent = 0;
    }
    font->Family = face->family_name ? face->family_name : "";
    return font;
}

void TextFontDelete(TextFont*& font)
{
    TRACE("TextRender.TextFontDelete");
    if (!font) return;
    if (font->Face) FT_Done_Face(font->Face);
    delete font;
    font = nullptr;
}

std::string TextFontFamily(const TextFont* font)
{
    TRACE("TextRender.TextFontFamily");
    return font ? font->Family : std::string();
}

// Loads one character as the renderer will draw it, synthesis applied; false when it has no glyph slot.
static bool LoadGlyph_(TextFont* font, unsigned char c, bool render)
{
    TRACE("TextRender.LoadGlyph_");
    FT_Face face = font->Face;
    FT_UInt gi = FT_Get_Char_Index(face, CodePoint_(c, font->CharSet));
    if (FT_Load_Glyph(face, gi, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) != 0) return false;
    if (font->SynthItalic) FT_GlyphSlot_Oblique(face->glyph);
    if (font->SynthBold) FT_GlyphSlot_Embolden(face->glyph);
    if (render && face->glyph->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0)
        return false;
    return true;
}

bool TextMeasure(TextFont* font, const std::string& text, int& width, int& height)
{
    TRACE("TextRender.TextMeasure");
    width = 0;
    height = 0;
    if (!font || !font->Face) return false;
    long long w = 0;
    for (unsigned char c : text) {
        if (LoadGlyph_(font, c, false)) w += Px_(font->Face->glyph->advance.x);
        if (w > 1000000) return false;
    }
    width = static_cast<int>(w);
    height = font->Ascent + font->Descent;
    return true;
}

static void SetBit_(uint8_t* bits, int width, int height, int rowBytes, int x, int y)
{
    if (x < 0 || y < 0 || x >= width || y >= height || x >= rowBytes * 8) return;
    bits[static_cast<size_t>(y) * rowBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

static void FillRows_(uint8_t* bits, int width, int height, int rowBytes, int x1, int top, int rows)
{
    TRACE("TextRender.FillRows_");
    if (rows < 1) rows = 1;
    for (int y = top; y < top + rows; ++y)
        for (int x = 0; x < x1; ++x) SetBit_(bits, width, height, rowBytes, x, y);
}

int TextDrawMono(TextFont* font, const std::string& text, uint8_t* bits, int width, int height, int rowBytes)
{
    TRACE("TextRender.TextDrawMono");
    if (!font || !font->Face || !bits || width <= 0 || height <= 0 || rowBytes * 8 < width) return 0;
    FT_Face face = font->Face;
    const int baseline = font->Ascent;
    long long pen = 0;
    for (unsigned char c : text) {
        if (!LoadGlyph_(font, c, true)) continue;
        FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        int left = static_cast<int>(pen) + g->bitmap_left;
        int top = baseline - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r) {
            const unsigned char* row = bm.pitch >= 0 ? bm.buffer + static_cast<size_t>(r) * bm.pitch
                                                     : bm.buffer + static_cast<size_t>(bm.rows - 1 - r) * (-bm.pitch);
            for (unsigned col = 0; col < bm.width; ++col) {
                bool on = false;
                if (bm.pixel_mode == FT_PIXEL_MODE_MONO) on = (row[col >> 3] & (0x80 >> (col & 7))) != 0;
                else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) on = row[col] >= 128;
                if (on) SetBit_(bits, width, height, rowBytes, left + static_cast<int>(col), top + static_cast<int>(r));
            }
        }
        pen += Px_(g->advance.x);
        if (pen > width + 4096) break;
    }
    const int textW = static_cast<int>(pen < width ? pen : width);
    const double scale = face->size->metrics.y_scale / 65536.0 / 64.0;  // font units to pixels
    if (font->Underline) {
        int thick = static_cast<int>(std::lround(face->underline_thickness * scale));
        int pos = static_cast<int>(std::lround(-face->underline_position * scale));
        if (thick < 1) thick = 1;
        if (pos < 1) pos = 1;
        int top = baseline + pos - thick / 2;
        if (top + thick > height) top = height - thick;
        FillRows_(bits, width, height, rowBytes, textW, top, thick);
    }
    if (font->Strikeout) {
        int thick = 0, pos = 0;
        const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
            thick = static_cast<int>(std::lround(os2->yStrikeoutSize * scale));
            pos = static_cast<int>(std::lround(os2->yStrikeoutPosition * scale));
        } else {
            thick = static_cast<int>(std::lround(face->underline_thickness * scale));
            pos = font->Ascent * 3 / 10;
        }
        if (thick < 1) thick = 1;
        FillRows_(bits, width, height, rowBytes, textW, baseline - pos, thick);
    }
    return 1;
}
