// Turning a picture upright.
#include "image/ImgOrient.h"

#include <cstring>
#include <utility>

#include "base/Mon.h"

int ImgOrientValid(int32_t orientation) { return orientation >= 1 && orientation <= 8 ? orientation : 1; }

bool ImgOrientSwaps(int32_t orientation) { return ImgOrientValid(orientation) >= 5; }

namespace {
// Where the upright picture's pixel (0, 0) lies in the stored one, and how far one step right
// and one step down move there, in stored pixels.
struct OrientWalk_ {
    int64_t Start, StepX, StepY;
};

OrientWalk_ WalkOf_(int orientation, int64_t w, int64_t h)
{
    const int64_t last = (h - 1) * w;
    switch (orientation) {
    case 2: return {w - 1, -1, w};
    case 3: return {last + w - 1, -1, -w};
    case 4: return {last, 1, -w};
    case 5: return {0, w, 1};
    case 6: return {last, -w, 1};
    case 7: return {last + w - 1, -w, -1};
    case 8: return {w - 1, w, -1};
    default: return {0, 1, w};
    }
}

template <int N> void WalkCopy_(const uint8_t* src, uint8_t* dst, int64_t dw, int64_t dh, const OrientWalk_& k)
{
    for (int64_t y = 0; y < dh; ++y) {
        const uint8_t* s = src + (k.Start + y * k.StepY) * N;
        for (int64_t x = 0; x < dw; ++x, dst += N, s += k.StepX * N) std::memcpy(dst, s, N);
    }
}
}  // namespace

void ImgOrientBytes(const uint8_t* src, int64_t w, int64_t h, int bytesPerPixel, int32_t orientation, uint8_t* dst)
{
    orientation = ImgOrientValid(orientation);
    const OrientWalk_ k = WalkOf_(orientation, w, h);
    const int64_t dw = ImgOrientSwaps(orientation) ? h : w, dh = ImgOrientSwaps(orientation) ? w : h;
    switch (bytesPerPixel) {
    case 1: WalkCopy_<1>(src, dst, dw, dh, k); break;
    case 2: WalkCopy_<2>(src, dst, dw, dh, k); break;
    case 3: WalkCopy_<3>(src, dst, dw, dh, k); break;
    default: WalkCopy_<4>(src, dst, dw, dh, k); break;
    }
}

void ImgOrient(Image& src, Image& dst, int32_t orientation)
{
    TRACE("ImgOrient.ImgOrient");
    orientation = ImgOrientValid(orientation);
    MonBlock([&] {
        if (!ImgIsValid(src)) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        if (orientation == 1) {
            if (&src != &dst) ImgCopy(src, dst);
            return;
        }
        const int64_t w = src.Width, h = src.Height;
        const bool swaps = ImgOrientSwaps(orientation);
        Image out;
        ImgAllocNamed(out, static_cast<int>(swaps ? h : w), static_cast<int>(swaps ? w : h), "ImgOrient.ImgOrient.out",
                   __LINE__, src.Bpp);
        ImgCopyPalette(src, out);
        ImgOrientBytes(src.Data, w, h, src.BytesPerPixel, orientation, out.Data);
        // A fresh record cannot take part in an exchange.
        if (ImgIsValid(dst)) ImgXchg(dst, out);
        else ImgCopy(out, dst);
        ImgFree(out);
    });
}

void ImgOrientRect(int32_t orientation, int64_t w, int64_t h, int64_t& left, int64_t& top, int64_t& rw, int64_t& rh)
{
    const int64_t l = left, t = top, cw = rw, ch = rh;
    switch (ImgOrientValid(orientation)) {
    case 2: left = w - l - cw; break;
    case 3: left = w - l - cw, top = h - t - ch; break;
    case 4: top = h - t - ch; break;
    case 5: left = t, top = l; break;
    case 6: left = t, top = h - l - cw; break;
    case 7: left = w - t - ch, top = h - l - cw; break;
    case 8: left = w - t - ch, top = l; break;
    default: return;
    }
    if (ImgOrientSwaps(orientation)) rw = ch, rh = cw;
}
