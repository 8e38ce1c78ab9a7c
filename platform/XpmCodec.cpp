// The codec library's XPM 3 reader and writer (our own code, no library underneath).
#include "platform/XpmCodec.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Mon.h"

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
    if (w < 1 || ht < 1 || ncolors < 1 || cpp < 1 || cpp > XPM_MAX_CPP || w * ht * 3 > XPM_MAX_BYTES) return 1;
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
    TRACE("XpmCodec.ReadXpm");
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
    TRACE("XpmCodec.WriteXpm");
    if (!name || !rec || !rec->Pixels || rec->Width <= 0 || rec->Height <= 0 ||
        (int64_t)rec->Width * rec->Height * 3 > XPM_MAX_BYTES)
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
