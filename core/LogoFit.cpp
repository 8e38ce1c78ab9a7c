// Fitting pictures to the logo size.
#include "core/LogoFit.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "formats/FFRows.h"
#include "image/ImgBasic.h"
#include "image/ImgOrient.h"
#include "image/ImgResize.h"

namespace {

int RoundHalfEven_(int64_t num, int64_t den)
{
    int64_t q = num / den, r = num % den;
    if (2 * r > den || (2 * r == den && (q & 1))) ++q;
    return static_cast<int>(q);
}

}  // namespace

void LogoFitBox(int w, int h, int mode, int& boxW, int& boxH, int& x, int& y)
{
    TRACE("LogoFit.LogoFitBox");
    boxW = w;
    boxH = h;
    x = y = 0;
    if (mode == RM_STRETCH || w <= 0 || h <= 0) return;
    // aspect < 4/3, exactly: the 4:3 case gives the whole picture on either side of the test.
    const bool narrow = static_cast<int64_t>(w) * 3 <= static_cast<int64_t>(h) * 4;
    if (mode == RM_CROP) {
        if (narrow) {
            boxH = RoundHalfEven_(static_cast<int64_t>(w) * 3, 4);
            y = (h - boxH) / 2;
        } else {
            boxW = RoundHalfEven_(static_cast<int64_t>(h) * 4, 3);
            x = (w - boxW) / 2;
        }
    } else {
        if (narrow) {
            boxW = RoundHalfEven_(static_cast<int64_t>(h) * 4, 3);
            x = (boxW - w) / 2;
        } else {
            boxH = RoundHalfEven_(static_cast<int64_t>(w) * 3, 4);
            y = (boxH - h) / 2;
        }
    }
}

void LogoFitImage(Image& img, int mode)
{
    TRACE("LogoFit.LogoFitImage");
    if (img.Width == LOGO_WIDTH && img.Height == LOGO_HEIGHT) return;
    MonBlock([&] {
        int bw, bh, x, y;
        LogoFitBox(img.Width, img.Height, mode, bw, bh, x, y);
        if (bw != img.Width || bh != img.Height) {
            if (mode == RM_CROP) {
                ImgCrop(img, img, x, y, bw, bh);
            } else {
                Image canvas;
                ImgAllocNamed(canvas, bw, bh, "LogoFit.LogoFitImage.canvas", __LINE__, 24);
                FillMem(0, canvas.Size, canvas.Data);
                ImgInsert(img, canvas, x, y);
                ImgXchg(img, canvas);
                ImgFree(canvas);
            }
        }
        ImgResample(img, img, LOGO_WIDTH, LOGO_HEIGHT);
    });
}

void LogoFitLoad(const std::string& source, int32_t format, int mode, Image& img)
{
    TRACE("LogoFit.LogoFitLoad");
    FFRowReader rd;
    MonBlock([&] {
        try {
            FFRowsOpen(rd, source, format);
            const int32_t o = rd.Pending, orientation = rd.Orientation;
            const bool swaps = ImgOrientSwaps(o);
            const int w = swaps ? rd.Height : rd.Width, h = swaps ? rd.Width : rd.Height;
            if (w == LOGO_WIDTH && h == LOGO_HEIGHT) {
                FFRowsClose(rd);
                ImgLoad(source, img, format);
                ImgOrient(img, img, orientation);
                return;
            }
            int bw, bh, x, y;
            LogoFitBox(w, h, mode, bw, bh, x, y);
            // Crop takes the box at (x, y); a border box holds the picture at (x, y). The box is
            // of the upright picture. Rows still as stored (a picture too large to hold whole) are
            // fitted to the box as it lies in them and only the small result is turned: the same
            // picture, its filter edges up to a fraction of a source pixel elsewhere.
            const bool crop = mode == RM_CROP;
            int64_t left = crop ? x : -x, top = crop ? y : -y, bw64 = bw, bh64 = bh;
            ImgOrientRect(o, rd.Width, rd.Height, left, top, bw64, bh64);
            FFRowsResample(rd, left, top, bw64, bh64, img, swaps ? LOGO_HEIGHT : LOGO_WIDTH,
                           swaps ? LOGO_WIDTH : LOGO_HEIGHT);
            ImgOrient(img, img, o);
        } catch (...) {
            FFRowsClose(rd);
            throw;
        }
        FFRowsClose(rd);
    });
}
