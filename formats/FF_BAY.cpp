// BAY reader: a Bayer mosaic of 2 x 2 cells (green, red / blue, green) with a camera trailer.
#include "formats/FF_BAY.h"

#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"

namespace {

constexpr int BAY_WIDTH = 512;
constexpr int64_t BAY_SIZE_SHORT = 74752;   // 512 x 144 + 1024
constexpr int64_t BAY_SIZE_TALL = 197632;   // 512 x 384 + 1024

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

static void BayOpen_(const std::string& name)
{
    TRACE("FF_BAY.BayOpen_");
    Bay = BayState_{};
    FOpen(Bay.Handle, name, FM_READ);
    Bay.FileSize = FSize(Bay.Handle);
    if (Bay.FileSize == BAY_SIZE_SHORT)
        Bay.Height = 144;
    else if (Bay.FileSize == BAY_SIZE_TALL)
        Bay.Height = 384;
    else
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    uint8_t t[12];
    FSeek(Bay.Handle, int64_t(BAY_WIDTH) * Bay.Height);
    FRead(Bay.Handle, t, sizeof t);
    if (std::memcmp(t + 3, "BAY 2", 5) != 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    Bay.Maker[0] = char(t[0]);
    Bay.Maker[1] = char(t[1]);
    if (t[8] == 1) {
        Bay.Color = true;
        Bay.BytesPerPixel = 3;
    } else if (t[8] == 2) {
        Bay.BytesPerPixel = 1;
    } else {
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    }
    Bay.Supported = true;
    const int code = t[11];
    if (std::memcmp(Bay.Maker, "ML", 2) == 0 && code >= 1 && code <= 7) {
        static const double ml[7] = {30, 60, 125, 250, 500, 1000, 2000};
        Bay.Shutter = ml[code - 1];
    } else if ((std::memcmp(Bay.Maker, "EK", 2) == 0 || std::memcmp(Bay.Maker, "RO", 2) == 0) && code >= 1 &&
               code <= 3) {
        static const double ek[3] = {250, 500, 1000};
        Bay.Shutter = ek[code - 1];
    }
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
        _imgalloc_(img, w, h, "FF_BAY.BayLoad.image", __LINE__, Bay.BytesPerPixel * 8);
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
