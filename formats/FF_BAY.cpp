// BAY reader: a Bayer mosaic of 2 x 2 cells (green, red / blue, green) with a camera trailer.
#include "formats/FF_BAY.h"

#include <cstring>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/FFFile.h"

namespace {

constexpr int BAY_WIDTH = 512;
constexpr int64_t BAY_SIZE_SHORT = 74752;   // 512 x 144 + 1024
constexpr int64_t BAY_SIZE_TALL = 197632;   // 512 x 384 + 1024
constexpr int BAY_HEIGHT_SHORT = 144, BAY_HEIGHT_TALL = 384;
constexpr int BAY_TRAILER_READ = 12;
constexpr char BAY_SIGNATURE[] = "BAY 2";
enum { BAY_MODE_COLOUR = 1, BAY_MODE_GREY = 2 };

// The used part of the trailer.
struct BayTrailer_ {
    uint8_t Maker[2] = {};      // two letters naming the camera's maker
    uint8_t Signature[5] = {};  // "BAY 2"
    uint8_t Mode = 0;
    uint8_t ShutterCode = 0;
};

struct BayState_ {
    int Handle = Undef;
    bool Color = false;
    bool Supported = false;
    int Width = BAY_WIDTH, Height = 0, BytesPerPixel = 0;
    int Layout = 1;
    int64_t FileSize = 0;
    double Shutter = 0;
    char Maker[3] = {};
};

}  // namespace

static BayState_ Bay;

// Reads the trailer that follows the pixel data.
static void BayReadTrailer_(BayTrailer_& t)
{
    TRACE("FF_BAY.BayReadTrailer_");
    uint8_t b[BAY_TRAILER_READ];
    FSeek(Bay.Handle, int64_t(BAY_WIDTH) * Bay.Height);
    FRead(Bay.Handle, b, sizeof b);
    ByteCursor c = BytesCursor(b, sizeof b);
    BytesRead(c, t.Maker, 2);
    BytesSkip(c, 1);
    BytesRead(c, t.Signature, 5);
    t.Mode = BytesReadU8(c);
    BytesSkip(c, 2);
    t.ShutterCode = BytesReadU8(c);
}

// The shutter value the maker's code stands for, 0 when unknown.
static double BayShutter_(const char* maker, int code)
{
    TRACE("FF_BAY.BayShutter_");
    static const double ml[7] = {30, 60, 125, 250, 500, 1000, 2000};
    static const double ek[3] = {250, 500, 1000};
    if (std::memcmp(maker, "ML", 2) == 0 && code >= 1 && code <= 7) return ml[code - 1];
    if ((std::memcmp(maker, "EK", 2) == 0 || std::memcmp(maker, "RO", 2) == 0) && code >= 1 && code <= 3)
        return ek[code - 1];
    return 0;
}

static void BayOpen_(const std::string& name)
{
    TRACE("FF_BAY.BayOpen_");
    Bay = BayState_{};
    FFOpenRead(Bay.Handle, name);
    Bay.FileSize = FSize(Bay.Handle);
    if (Bay.FileSize == BAY_SIZE_SHORT)
        Bay.Height = BAY_HEIGHT_SHORT;
    else if (Bay.FileSize == BAY_SIZE_TALL)
        Bay.Height = BAY_HEIGHT_TALL;
    else
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    BayTrailer_ t;
    BayReadTrailer_(t);
    if (std::memcmp(t.Signature, BAY_SIGNATURE, 5) != 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    Bay.Maker[0] = char(t.Maker[0]);
    Bay.Maker[1] = char(t.Maker[1]);
    if (t.Mode == BAY_MODE_COLOUR) {
        Bay.Color = true;
        Bay.BytesPerPixel = 3;
    } else if (t.Mode == BAY_MODE_GREY) {
        Bay.BytesPerPixel = 1;
    } else {
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    }
    Bay.Supported = true;
    Bay.Shutter = BayShutter_(Bay.Maker, t.ShutterCode);
}

// Sample (x, y) of the mosaic stored cell by cell.
static inline int BaySample_(const uint8_t* raw, int w, int x, int y)
{
    return raw[(int64_t(y >> 1) * (w >> 1) + (x >> 1)) * 4 + (y & 1) * 2 + (x & 1)];
}

// Colour reconstruction: every cell's four pixels from the 4 x 4 window around it. Window
// positions outside the mosaic take the cell's own sample of the same colour.
static void BayColor_(const uint8_t* raw, int w, int h, uint8_t* out)
{
    TRACE("FF_BAY.BayColor_");
    for (int y = 0; y < h; y += 2) {
        for (int x = 0; x < w; x += 2) {
            int S[4][4];  // S[dx + 1][dy + 1]
            for (int dy = -1; dy <= 2; ++dy) {
                for (int dx = -1; dx <= 2; ++dx) {
                    const int X = x + dx, Y = y + dy;
                    int v;
                    if (X >= 0 && X < w && Y >= 0 && Y < h) {
                        v = BaySample_(raw, w, X, Y);
                    } else {
                        const bool oddRow = (dy & 1) != 0, oddCol = (dx & 1) != 0;
                        if (!oddRow && oddCol)
                            v = BaySample_(raw, w, x + 1, y);  // red
                        else if (oddRow && !oddCol)
                            v = BaySample_(raw, w, x, y + 1);  // blue
                        else
                            v = dy <= 0 ? BaySample_(raw, w, x, y) : BaySample_(raw, w, x + 1, y + 1);  // green
                    }
                    S[dx + 1][dy + 1] = v;
                }
            }
            auto s = [&](int dx, int dy) { return S[dx + 1][dy + 1]; };
            uint8_t* ul = out + (int64_t(y) * w + x) * 3;
            uint8_t* ur = ul + 3;
            uint8_t* ll = ul + int64_t(w) * 3;
            uint8_t* lr = ll + 3;
            // Stored blue, green, red.
            ul[2] = uint8_t((s(-1, 0) + s(1, 0)) / 2);
            ul[1] = uint8_t(s(0, 0));
            ul[0] = uint8_t((s(0, -1) + s(0, 1)) / 2);
            ur[2] = uint8_t(s(1, 0));
            ur[1] = uint8_t((s(1, -1) + s(0, 0) + s(2, 0) + s(1, 1)) / 4);
            ur[0] = uint8_t((s(0, -1) + s(2, -1) + s(0, 1) + s(2, 1)) / 4);
            ll[2] = uint8_t((s(-1, 0) + s(1, 0) + s(-1, 2) + s(1, 2)) / 4);
            ll[1] = uint8_t((s(0, 0) + s(-1, 1) + s(1, 1) + s(0, 2)) / 4);
            ll[0] = uint8_t(s(0, 1));
            lr[2] = uint8_t((s(1, 0) + s(1, 2)) / 2);
            lr[1] = uint8_t(s(1, 1));
            lr[0] = uint8_t((s(0, 1) + s(2, 1)) / 2);
        }
    }
}

void BayLoad(const std::string& name, Image& img)
{
    TRACE("FF_BAY.BayLoad");
    MonBlock([&] {
        BayOpen_(name);
        const int w = Bay.Width, h = Bay.Height;
        uint8_t* raw = nullptr;
        MemAllocT(&raw, int64_t(w) * h, __LINE__, "FF_BAY.BayLoad.raw");
        FSeek(Bay.Handle, 0);
        FRead(Bay.Handle, raw, int64_t(w) * h);
        ImgAllocNamed(img, w, h, "FF_BAY.BayLoad.image", __LINE__, Bay.BytesPerPixel * 8);
        std::memset(img.Pal, 0, sizeof img.Pal);
        if (Bay.Color) {
            BayColor_(raw, w, h, img.Data);
        } else {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) img.Data[int64_t(y) * w + x] = uint8_t(BaySample_(raw, w, x, y));
            for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = uint8_t(i);
        }
        MemFreeT(&raw);
        FClose(Bay.Handle);
        Bay.Handle = Undef;
    });
}
