// The codec library. libjpeg reports fatal errors through error_exit, which must not return:
// ours long-jumps back to the one setjmp of each operation. Those setjmp frames and everything
// between them and libjpeg hold only plain C data, so the jump skips no destructor.
// This stands in for a foreign library: only its exported functions announce themselves on
// the trace; the helpers, some of them left by long jumps, do not.
#include "platform/codec.h"

#include <cctype>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <tiffio.h>

#include "base/Mon.h"

// ---------------------------------------------------------------- JPEG

namespace {

struct JpgErr_ {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

struct JpgDec_ {
    jpeg_decompress_struct cinfo;
    JpgErr_ err;
    jpeg_progress_mgr progress;
    FILE* file;
    bool created;
    uint8_t* cmykRow;  // malloc'd, CMYK files only
    int32_t width, height, components;
};

struct JpgEnc_ {
    jpeg_compress_struct cinfo;
    JpgErr_ err;
    FILE* file;
    bool created;
};

}  // namespace

static void JpgErrorExit_(j_common_ptr c)
{
    longjmp(reinterpret_cast<JpgErr_*>(c->err)->jump, 1);
}

static void JpgEmitMessage_(j_common_ptr c, int level)
{
    if (level >= 0) return;  // trace messages
    jpeg_error_mgr* e = c->err;
    e->num_warnings++;
    // libjpeg pads a truncated file with grey and calls it a warning; for us it is damage.
    // Endless corrupt-data warnings mean the file is hopeless.
    if (e->msg_code == JWRN_JPEG_EOF || e->num_warnings > 1000) JpgErrorExit_(c);
}

static void JpgOutputMessage_(j_common_ptr) {}

// Progressive files with thousands of tiny scans cost time out of all proportion.
static void JpgProgress_(j_common_ptr c)
{
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > 500) JpgErrorExit_(c);
}

static void JpgErrInit_(JpgErr_* e)
{
    jpeg_std_error(&e->pub);
    e->pub.error_exit = JpgErrorExit_;
    e->pub.emit_message = JpgEmitMessage_;
    e->pub.output_message = JpgOutputMessage_;
}

static int JpgComponents_(const jpeg_decompress_struct* c)
{
    return c->jpeg_color_space == JCS_GRAYSCALE ? 1 : 3;
}

static void JpgReadRows_(JpgDec_* d, uint8_t* pixels)
{
    jpeg_decompress_struct* c = &d->cinfo;
    switch (c->jpeg_color_space) {
    case JCS_GRAYSCALE: c->out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: c->out_color_space = JCS_CMYK; break;
    default: c->out_color_space = JCS_EXT_BGR; break;
    }
    d->progress.progress_monitor = JpgProgress_;
    c->progress = &d->progress;
    jpeg_start_decompress(c);
    bool cmyk = c->out_color_space == JCS_CMYK;
    int comps = JpgComponents_(c);
    if ((int64_t)c->output_width != d->width || (int64_t)c->output_height != d->height || comps != d->components ||
        c->output_components != (cmyk ? 4 : comps))
        JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
    size_t stride = (size_t)d->width * comps;
    if (cmyk) {
        d->cmykRow = static_cast<uint8_t*>(malloc((size_t)d->width * 4));
        if (!d->cmykRow) JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
    }
    // Adobe writes CMYK inverted (0 = full ink); others store it plainly.
    bool inverted = c->saw_Adobe_marker;
    while (c->output_scanline < c->output_height) {
        uint8_t* dst = pixels + (size_t)c->output_scanline * stride;
        JSAMPROW row = cmyk ? d->cmykRow : dst;
        if (jpeg_read_scanlines(c, &row, 1) != 1) JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
        if (cmyk) {
            const uint8_t* s = d->cmykRow;
            for (int x = 0; x < d->width; x++, s += 4, dst += 3) {
                unsigned cc = s[0], m = s[1], y = s[2], k = s[3];
                if (!inverted) cc = 255 - cc, m = 255 - m, y = 255 - y, k = 255 - k;
                dst[0] = (uint8_t)((y * k + 127) / 255);
                dst[1] = (uint8_t)((m * k + 127) / 255);
                dst[2] = (uint8_t)((cc * k + 127) / 255);
            }
        }
    }
    jpeg_finish_decompress(c);
}

// The one setjmp of a decode; pixels null reads the header only.
static int JpgDecode_(JpgDec_* d, uint8_t* pixels)
{
    if (setjmp(d->err.jump)) return 1;
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    jpeg_stdio_src(&d->cinfo, d->file);
    jpeg_read_header(&d->cinfo, TRUE);
    if (!pixels) {
        d->width = (int32_t)d->cinfo.image_width;
        d->height = (int32_t)d->cinfo.image_height;
        d->components = JpgComponents_(&d->cinfo);
        return 0;
    }
    if ((int64_t)d->cinfo.image_width != d->width || (int64_t)d->cinfo.image_height != d->height ||
        JpgComponents_(&d->cinfo) != d->components)
        return 1;
    JpgReadRows_(d, pixels);
    return 0;
}

static int JpgRead_(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components)
{
    if (!name || !width || !height || !components) return 1;
    JpgDec_ d;
    memset(&d, 0, sizeof d);
    if (pixels) {
        if (*width <= 0 || *height <= 0 || (*components != 1 && *components != 3)) return 1;
        if ((int64_t)*width * *height * *components > CODEC_MAX_BYTES) return 1;
        d.width = *width;
        d.height = *height;
        d.components = *components;
    }
    d.file = fopen(name, "rb");
    if (!d.file) return 1;
    d.cinfo.err = &d.err.pub;
    JpgErrInit_(&d.err);
    int rc = JpgDecode_(&d, pixels);
    if (d.created) jpeg_destroy_decompress(&d.cinfo);
    fclose(d.file);
    free(d.cmykRow);
    if (rc == 0) {
        *width = d.width;
        *height = d.height;
        *components = d.components;
    }
    return rc;
}

int info_JPEG_file(const char* name, int32_t* width, int32_t* height, int32_t* components)
{
    TRACE("codec.info_JPEG_file");
    return JpgRead_(name, nullptr, width, height, components);
}

int read_JPEG_file(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components)
{
    TRACE("codec.read_JPEG_file");
    if (!pixels) return 1;
    return JpgRead_(name, pixels, width, height, components);
}

static void JpgWriteRows_(JpgEnc_* e, const uint8_t* pixels, int32_t width)
{
    size_t stride = (size_t)width * 3;
    while (e->cinfo.next_scanline < e->cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels + (size_t)e->cinfo.next_scanline * stride);
        jpeg_write_scanlines(&e->cinfo, &row, 1);
    }
}

static int JpgEncode_(JpgEnc_* e, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)
{
    if (setjmp(e->err.jump)) return 1;
    jpeg_create_compress(&e->cinfo);
    e->created = true;
    jpeg_stdio_dest(&e->cinfo, e->file);
    e->cinfo.image_width = (JDIMENSION)width;
    e->cinfo.image_height = (JDIMENSION)height;
    e->cinfo.input_components = 3;
    e->cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&e->cinfo);
    jpeg_set_quality(&e->cinfo, quality, TRUE);
    jpeg_start_compress(&e->cinfo, TRUE);
    JpgWriteRows_(e, pixels, width);
    jpeg_finish_compress(&e->cinfo);
    return 0;
}

int write_JPEG_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)
{
    TRACE("codec.write_JPEG_file");
    if (!name || !pixels || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return 1;
    if (quality < 0) quality = 0;
    if (quality > 100) quality = 100;
    JpgEnc_ e;
    memset(&e, 0, sizeof e);
    e.file = fopen(name, "wb");
    if (!e.file) return 1;
    e.cinfo.err = &e.err.pub;
    JpgErrInit_(&e.err);
    int rc = JpgEncode_(&e, pixels, width, height, quality);
    if (e.created) jpeg_destroy_compress(&e.cinfo);
    if (ferror(e.file)) rc = 1;
    if (fclose(e.file) != 0) rc = 1;
    if (rc != 0) remove(name);
    return rc;
}

// ---------------------------------------------------------------- XPM

namespace {

struct XpmName_ {
    const char* name;  // lower case, no blanks, "gray" spelling
    uint8_t r, g, b;
};

// The X11 colours that XPM files commonly name.
const XpmName_ XpmNames_[] = {
    {"black", 0, 0, 0}, {"white", 255, 255, 255}, {"red", 255, 0, 0}, {"green", 0, 255, 0},
    {"blue", 0, 0, 255}, {"yellow", 255, 255, 0}, {"cyan", 0, 255, 255}, {"magenta", 255, 0, 255},
    {"gray", 190, 190, 190}, {"darkgray", 169, 169, 169}, {"lightgray", 211, 211, 211},
    {"dimgray", 105, 105, 105}, {"slategray", 112, 128, 144}, {"lightslategray", 119, 136, 153},
    {"darkslategray", 47, 79, 79}, {"gainsboro", 220, 220, 220}, {"whitesmoke", 245, 245, 245},
    {"orange", 255, 165, 0}, {"darkorange", 255, 140, 0}, {"purple", 160, 32, 240}, {"brown", 165, 42, 42},
    {"pink", 255, 192, 203}, {"hotpink", 255, 105, 180}, {"deeppink", 255, 20, 147}, {"navy", 0, 0, 128},
    {"navyblue", 0, 0, 128}, {"maroon", 176, 48, 96}, {"violet", 238, 130, 238}, {"gold", 255, 215, 0},
    {"goldenrod", 218, 165, 32}, {"darkgoldenrod", 184, 134, 11}, {"darkgreen", 0, 100, 0},
    {"darkred", 139, 0, 0}, {"darkblue", 0, 0, 139}, {"darkcyan", 0, 139, 139}, {"darkmagenta", 139, 0, 139},
    {"lightblue", 173, 216, 230}, {"skyblue", 135, 206, 235}, {"deepskyblue", 0, 191, 255},
    {"steelblue", 70, 130, 180}, {"royalblue", 65, 105, 225}, {"dodgerblue", 30, 144, 255},
    {"cornflowerblue", 100, 149, 237}, {"midnightblue", 25, 25, 112}, {"khaki", 240, 230, 140},
    {"beige", 245, 245, 220}, {"ivory", 255, 255, 240}, {"tan", 210, 180, 140}, {"salmon", 250, 128, 114},
    {"coral", 255, 127, 80}, {"tomato", 255, 99, 71}, {"orchid", 218, 112, 214}, {"plum", 221, 160, 221},
    {"thistle", 216, 191, 216}, {"turquoise", 64, 224, 208}, {"chocolate", 210, 105, 30},
    {"sienna", 160, 82, 45}, {"peru", 205, 133, 63}, {"firebrick", 178, 34, 34}, {"indianred", 205, 92, 92},
    {"forestgreen", 34, 139, 34}, {"limegreen", 50, 205, 50}, {"seagreen", 46, 139, 87},
    {"springgreen", 0, 255, 127}, {"olivedrab", 107, 142, 35}, {"darkolivegreen", 85, 107, 47},
    {"yellowgreen", 154, 205, 50}, {"lightgreen", 144, 238, 144}, {"chartreuse", 127, 255, 0},
    {"aquamarine", 127, 255, 212}, {"lightyellow", 255, 255, 224}, {"lavender", 230, 230, 250},
    {"wheat", 245, 222, 179}, {"snow", 255, 250, 250}, {"linen", 250, 240, 230}, {"azure", 240, 255, 255},
    {"mintcream", 245, 255, 250}, {"honeydew", 240, 255, 240}, {"mediumpurple", 147, 112, 219},
    {"blueviolet", 138, 43, 226}, {"darkviolet", 148, 0, 211},
};

// Pixel characters of the writer: printable, without '"' and '\'.
const char XpmChars_[] =
    " .XoO+@#$%&*=-;:>,<1234567890qwertyuipasdfghjklzxcvbnmMNBVCZASDFGHJKLPIUYTREWQ!~^/()_`'][{}|";
constexpr int XPM_NCHARS = sizeof(XpmChars_) - 1;
constexpr int XPM_MAX_CPP = 32;
constexpr uint32_t XPM_DEFINED = 0x80000000u;  // marks a used slot of the direct colour table

struct XpmParse_ {
    const char* p;
    const char* end;
};

}  // namespace

// Next C string literal; comments and the C syntax between literals are skipped.
static bool XpmNextString_(XpmParse_& x, std::string& out)
{
    out.clear();
    while (x.p < x.end) {
        char ch = *x.p;
        if (ch == '/' && x.p + 1 < x.end && x.p[1] == '*') {
            const char* q = x.p + 2;
            while (q + 1 < x.end && !(q[0] == '*' && q[1] == '/')) q++;
            x.p = q + 1 < x.end ? q + 2 : x.end;
            continue;
        }
        if (ch == '/' && x.p + 1 < x.end && x.p[1] == '/') {
            while (x.p < x.end && *x.p != '\n') x.p++;
            continue;
        }
        if (ch == '"') {
            const char* q = ++x.p;
            while (q < x.end && *q != '"') {
                if (*q == '\\' && q + 1 < x.end) q++;
                q++;
            }
            if (q >= x.end) return false;
            // Copy with escapes resolved to the escaped character.
            for (const char* s = x.p; s < q; s++) {
                if (*s == '\\') s++;
                out.push_back(*s);
            }
            x.p = q + 1;
            return true;
        }
        x.p++;
    }
    return false;
}

// "/* XPM */" must open the file.
static bool XpmHasMagic_(const char* p, const char* end)
{
    while (p < end && isspace((unsigned char)*p)) p++;
    if (end - p < 4 || p[0] != '/' || p[1] != '*') return false;
    const char* q = p + 2;
    while (q < end && isspace((unsigned char)*q)) q++;
    if (end - q < 3 || memcmp(q, "XPM", 3) != 0) return false;
    q += 3;
    while (q < end && isspace((unsigned char)*q)) q++;
    return end - q >= 2 && q[0] == '*' && q[1] == '/';
}

static bool XpmReadNumber_(const char*& s, int64_t& v)
{
    while (*s == ' ' || *s == '\t') s++;
    if (!isdigit((unsigned char)*s)) return false;
    v = 0;
    while (isdigit((unsigned char)*s)) {
        if (v > 100000000) return false;
        v = v * 10 + (*s++ - '0');
    }
    return true;
}

static int XpmHex_(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Colour text to 0xRRGGBB. None (transparent) and names we do not know become black.
static bool XpmColour_(const std::string& value, uint32_t& rgb)
{
    rgb = 0;
    if (value.empty()) return false;
    if (value[0] == '#') {
        size_t n = value.size() - 1;
        if (n == 0 || n % 3 != 0 || n > 12) return false;
        size_t digits = n / 3;
        uint32_t c[3];
        for (int k = 0; k < 3; k++) {
            uint32_t v = 0;
            for (size_t i = 0; i < digits; i++) {
                int h = XpmHex_(value[1 + k * digits + i]);
                if (h < 0) return false;
                v = v * 16 + (uint32_t)h;
            }
            // Scale to 8 bits: one digit repeats, longer forms keep their high byte.
            c[k] = digits == 1 ? v * 17 : v >> (4 * (digits - 2));
        }
        rgb = c[0] << 16 | c[1] << 8 | c[2];
        return true;
    }
    std::string key;
    for (char ch : value)
        if (ch != ' ') key.push_back((char)tolower((unsigned char)ch));
    for (size_t pos; (pos = key.find("grey")) != std::string::npos;) key.replace(pos, 4, "gray");
    if (key.compare(0, 4, "gray") == 0 && key.size() > 4 && key.size() <= 7) {
        int level = 0;
        bool digits = true;
        for (size_t i = 4; i < key.size(); i++) {
            if (!isdigit((unsigned char)key[i])) digits = false;
            else level = level * 10 + (key[i] - '0');
        }
        if (digits && level <= 100) {
            uint32_t g = (uint32_t)(level * 255 + 49) / 100;
            rgb = g << 16 | g << 8 | g;
            return true;
        }
    }
    for (const XpmName_& n : XpmNames_)
        if (key == n.name) {
            rgb = (uint32_t)n.r << 16 | (uint32_t)n.g << 8 | n.b;
            return true;
        }
    return true;  // "None" and unknown names
}

// Colour of one colour line after its pixel characters: the c (colour) value, else g, g4, m.
static bool XpmColourLine_(const std::string& line, int cpp, uint32_t& rgb)
{
    std::vector<std::string> tok;
    size_t i = (size_t)cpp;
    while (i < line.size()) {
        while (i < line.size() && isspace((unsigned char)line[i])) i++;
        size_t start = i;
        while (i < line.size() && !isspace((unsigned char)line[i])) i++;
        if (i > start) tok.push_back(line.substr(start, i - start));
    }
    static const char* const keys[] = {"c", "g", "g4", "m", "s"};
    int bestRank = 99;
    std::string best;
    for (size_t t = 0; t < tok.size();) {
        int rank = -1;
        for (int k = 0; k < 5; k++)
            if (tok[t] == keys[k]) rank = k;
        if (rank < 0) {
            t++;
            continue;
        }
        std::string value;
        size_t u = t + 1;
        for (; u < tok.size(); u++) {
            bool isKey = false;
            for (const char* k : keys)
                if (tok[u] == k) isKey = true;
            if (isKey) break;
            if (!value.empty()) value.push_back(' ');
            value += tok[u];
        }
        if (rank < 4 && rank < bestRank && !value.empty()) {
            bestRank = rank;
            best = value;
        }
        t = u;
    }
    if (best.empty()) return false;
    return XpmColour_(best, rgb);
}

static bool XpmReadFile_(const char* name, std::string& data)
{
    FILE* f = fopen(name, "rb");
    if (!f) return false;
    // Even a 4096 x 4096 file at many characters per pixel stays far below this.
    const size_t cap = 1024u * 1024u * 1024u;
    char buf[65536];
    bool ok = true;
    for (;;) {
        size_t n = fread(buf, 1, sizeof buf, f);
        data.append(buf, n);
        if (data.size() > cap) ok = false;
        // Whatever is not XPM is refused before the rest of it is read.
        if (data.size() == n && !XpmHasMagic_(data.data(), data.data() + data.size())) ok = false;
        if (n < sizeof buf || !ok) break;
    }
    if (ferror(f)) ok = false;
    fclose(f);
    return ok;
}

static int XpmParse_All_(const std::string& data, XpmRec* rec)
{
    const char* begin = data.data();
    const char* end = begin + data.size();
    if (!XpmHasMagic_(begin, end)) return 1;
    XpmParse_ x{begin, end};
    std::string s;
    if (!XpmNextString_(x, s)) return 1;
    const char* h = s.c_str();
    int64_t w = 0, ht = 0, ncolors = 0, cpp = 0;
    if (!XpmReadNumber_(h, w) || !XpmReadNumber_(h, ht) || !XpmReadNumber_(h, ncolors) || !XpmReadNumber_(h, cpp))
        return 1;
    if (w < 1 || ht < 1 || ncolors < 1 || cpp < 1 || cpp > XPM_MAX_CPP || w * ht * 3 > CODEC_MAX_BYTES) return 1;
    if (!rec->Pixels) {
        rec->Width = (int32_t)w;
        rec->Height = (int32_t)ht;
        return 0;
    }
    if (rec->Width != w || rec->Height != ht) return 1;

    // Up to two characters per pixel index a direct table; longer keys a hash map.
    std::vector<uint32_t> direct;
    std::unordered_map<std::string, uint32_t> map;
    if (cpp <= 2) direct.assign(cpp == 1 ? 256 : 65536, 0);
    for (int64_t i = 0; i < ncolors; i++) {
        if (!XpmNextString_(x, s) || (int64_t)s.size() < cpp) return 1;
        uint32_t rgb = 0;
        if (!XpmColourLine_(s, (int)cpp, rgb)) return 1;
        if (cpp == 1) direct[(uint8_t)s[0]] = rgb | XPM_DEFINED;
        else if (cpp == 2) direct[(uint8_t)s[0] << 8 | (uint8_t)s[1]] = rgb | XPM_DEFINED;
        else map[s.substr(0, (size_t)cpp)] = rgb;
    }
    uint8_t* out = rec->Pixels;
    std::string key;
    for (int64_t y = 0; y < ht; y++) {
        if (!XpmNextString_(x, s) || (int64_t)s.size() < w * cpp) return 1;
        const char* p = s.data();
        for (int64_t i = 0; i < w; i++, p += cpp, out += 3) {
            uint32_t c;
            if (cpp == 1) c = direct[(uint8_t)p[0]];
            else if (cpp == 2) c = direct[(uint8_t)p[0] << 8 | (uint8_t)p[1]];
            else {
                key.assign(p, (size_t)cpp);
                auto it = map.find(key);
                c = it == map.end() ? 0 : it->second | XPM_DEFINED;
            }
            if (!(c & XPM_DEFINED)) return 1;  // a pixel of no declared colour
            out[0] = (uint8_t)c;
            out[1] = (uint8_t)(c >> 8);
            out[2] = (uint8_t)(c >> 16);
        }
    }
    return 0;
}

int ReadXpm(const char* name, XpmRec* rec)
{
    TRACE("codec.ReadXpm");
    if (!name || !rec) return 1;
    try {
        std::string data;
        if (!XpmReadFile_(name, data)) return 1;
        return XpmParse_All_(data, rec);
    } catch (...) {
        return 1;  // out of memory
    }
}

// C identifier for the array from the file's base name.
static std::string XpmVarName_(const char* name)
{
    std::string base = name;
    size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    size_t dot = base.find('.');
    if (dot != std::string::npos) base.erase(dot);
    for (char& ch : base)
        if (!isalnum((unsigned char)ch)) ch = '_';
    if (base.empty() || isdigit((unsigned char)base[0])) base.insert(0, "image_");
    return base;
}

static bool XpmBuild_(const XpmRec* rec, const char* name, std::string& text)
{
    const int64_t w = rec->Width, h = rec->Height, n = w * h;
    std::unordered_map<uint32_t, uint32_t> index;
    std::vector<uint32_t> colours;
    std::vector<uint32_t> pixelIndex((size_t)n);
    const uint8_t* p = rec->Pixels;
    for (int64_t i = 0; i < n; i++, p += 3) {
        uint32_t c = (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
        auto ins = index.emplace(c, (uint32_t)colours.size());
        if (ins.second) colours.push_back(c);
        pixelIndex[(size_t)i] = ins.first->second;
    }
    int cpp = 1;
    for (int64_t cap = XPM_NCHARS; cap < (int64_t)colours.size(); cap *= XPM_NCHARS) cpp++;
    std::string keys(colours.size() * (size_t)cpp, ' ');
    for (size_t k = 0; k < colours.size(); k++) {
        size_t v = k;
        for (int d = cpp - 1; d >= 0; d--) {
            keys[k * (size_t)cpp + (size_t)d] = XpmChars_[v % XPM_NCHARS];
            v /= XPM_NCHARS;
        }
    }
    text.reserve((size_t)(n * cpp + h * 4 + (int64_t)colours.size() * (cpp + 16) + 256));
    char line[96];
    text += "/* XPM */\nstatic char *";
    text += XpmVarName_(name);
    text += "[] = {\n/* columns rows colors chars-per-pixel */\n";
    snprintf(line, sizeof line, "\"%d %d %d %d \",\n", rec->Width, rec->Height, (int)colours.size(), cpp);
    text += line;
    for (size_t k = 0; k < colours.size(); k++) {
        text += '"';
        text.append(keys, k * (size_t)cpp, (size_t)cpp);
        snprintf(line, sizeof line, " c #%06X\",\n", colours[k]);
        text += line;
    }
    text += "/* pixels */\n";
    const uint32_t* pi = pixelIndex.data();
    for (int64_t y = 0; y < h; y++) {
        text += '"';
        for (int64_t x = 0; x < w; x++) text.append(keys, (size_t)*pi++ * (size_t)cpp, (size_t)cpp);
        text += y + 1 < h ? "\",\n" : "\"\n";
    }
    text += "};\n";
    return true;
}

int WriteXpm(const char* name, const XpmRec* rec)
{
    TRACE("codec.WriteXpm");
    if (!name || !rec || !rec->Pixels || rec->Width <= 0 || rec->Height <= 0 ||
        (int64_t)rec->Width * rec->Height * 3 > CODEC_MAX_BYTES)
        return 1;
    std::string text;
    try {
        XpmBuild_(rec, name, text);
    } catch (...) {
        return 1;
    }
    FILE* f = fopen(name, "wb");
    if (!f) return 1;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    if (fclose(f) != 0) ok = false;
    if (!ok) remove(name);
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------- libtiff messages

static ExternMsgProc ExternError_ = nullptr;
static ExternMsgProc ExternWarning_ = nullptr;

static void TiffMsg_(ExternMsgProc proc, const char* module, const char* fmt, va_list ap)
{
    if (!proc) return;
    char text[1024];
    int n = 0;
    if (module && *module) {
        n = snprintf(text, sizeof text, "%s: ", module);
        if (n < 0 || n >= (int)sizeof text / 2) n = 0;
    }
    vsnprintf(text + n, sizeof text - (size_t)n, fmt, ap);
    proc(text);
}

static void TiffError_(const char* module, const char* fmt, va_list ap)
{
    TiffMsg_(ExternError_, module, fmt, ap);
}

static void TiffWarning_(const char* module, const char* fmt, va_list ap)
{
    TiffMsg_(ExternWarning_, module, fmt, ap);
}

void ExternErrorSet(ExternMsgProc proc)
{
    TRACE("codec.ExternErrorSet");
    ExternError_ = proc;
    TIFFSetErrorHandler(TiffError_);
}

void ExternWarningSet(ExternMsgProc proc)
{
    TRACE("codec.ExternWarningSet");
    ExternWarning_ = proc;
    TIFFSetWarningHandler(TiffWarning_);
}
