#include "image/ImgRecord.h"

#include <cstring>
#include <utility>

#include "base/Basic.h"
#include "base/Mon.h"

static void** Owner_(Image& img) { return reinterpret_cast<void**>(&img.Data); }
static void* const* OwnerC_(const Image& img) { return reinterpret_cast<void* const*>(&img.Data); }

static int BytesOf_(int bpp) { return (bpp + 7) / 8; }

bool ImgSizeOK(int64_t width, int64_t height, int bpp)
{
    TRACE("ImgRecord.ImgSizeOK");
    if (width <= 0 || height <= 0 || bpp <= 0 || bpp > 32) return false;
    // Each factor alone must fit before the product is formed, so nothing overflows.
    if (width > IMG_MAX_BYTES || height > IMG_MAX_BYTES) return false;
    const int64_t row = width * BytesOf_(bpp);
    if (row > IMG_MAX_BYTES) return false;
    return row * height <= IMG_MAX_BYTES;
}

// ---------------------------------------------------------------- allocation and bookkeeping

void ImgAllocNamed(Image& img, int width, int height, const std::string& name, int line, int bpp)
{
    TRACE("ImgRecord._imgalloc_");
    if (!MemIsRegistered(OwnerC_(img))) {
        img.Data = nullptr;
        img.Size = 0;
        img.Width = img.Height = img.BytesPerPixel = img.Bpp = 0;
        img.ExtData = 0;
    }
    // Negative sizes whose product is positive, and blocks beyond the limit, are refused here.
    if (!ImgSizeOK(width, height, bpp)) {
        MonError(EC_MEMORY, ME_REQUEST, line);
        return;
    }
    const int64_t size = static_cast<int64_t>(width) * height * BytesOf_(bpp);
    if (MemAllocNamed(Owner_(img), size, line, MEM_ORDINARY, "(ImgAlloc):" + name) != 0) return;
    img.Size = static_cast<int32_t>(size);
    img.Width = width;
    img.Height = height;
    img.BytesPerPixel = BytesOf_(bpp);
    img.Bpp = bpp;
    img.ExtData = 0;
}

void ImgAlloc(Image& img, int width, int height, int bpp)
{
    TRACE("ImgRecord.ImgAlloc");
    ImgAllocNamed(img, width, height, std::string(), 0, bpp);
}

void ImgFree(Image& img)
{
    TRACE("ImgRecord.ImgFree");
    MemFree(Owner_(img));
    img = Image{};
}

bool ImgIsValid(const Image& img)
{
    TRACE("ImgRecord.ImgIsValid");
    return MemIsRegistered(OwnerC_(img)) || img.ExtData != 0;
}

void ImgSetInfo(Image& img, int width, int height, int bpp)
{
    TRACE("ImgRecord.ImgSetInfo");
    img.Width = width;
    img.Height = height;
    img.Bpp = bpp;
    img.BytesPerPixel = BytesOf_(bpp);
    if (img.ExtData != 0) img.Size = width * height * img.BytesPerPixel;
}

void ImgCopyInfo(const Image& src, Image& dst)
{
    TRACE("ImgRecord.ImgCopyInfo");
    if (&src == &dst) return;
    dst.Width = src.Width;
    dst.Height = src.Height;
    dst.BytesPerPixel = src.BytesPerPixel;
    dst.Bpp = src.Bpp;
}

void ImgCopyPalette(const Image& src, Image& dst)
{
    TRACE("ImgRecord.ImgCopyPalette");
    if (&src == &dst || src.Bpp != 8) return;
    std::memcpy(dst.Pal, src.Pal, sizeof dst.Pal);
}

void ImgCopyData(const Image& src, Image& dst)
{
    TRACE("ImgRecord.ImgCopyData");
    if (&src == &dst) return;
    ImgAllocNamed(dst, src.Width, src.Height, "ImgRecord.ImgCopyData.dest", __LINE__, src.Bpp);
    if (!MemIsRegistered(OwnerC_(dst))) return;
    std::memcpy(dst.Data, src.Data, static_cast<size_t>(src.Width) * src.Height * src.BytesPerPixel);
}

void ImgCopy(const Image& src, Image& dst)
{
    TRACE("ImgRecord.ImgCopy");
    if (&src == &dst) return;
    ImgCopyInfo(src, dst);
    ImgCopyData(src, dst);
    ImgCopyPalette(src, dst);
}

void ImgXchg(Image& a, Image& b)
{
    TRACE("ImgRecord.ImgXchg");
    if (&a == &b) return;
    // Swapping the records without the registry would leave each entry naming the other's owner.
    if (!MemIsRegistered(OwnerC_(a)) || !MemIsRegistered(OwnerC_(b))) {
        MonError(EC_MEMORY, ME_MANAGER, __LINE__);
        return;
    }
    MemXchg(Owner_(a), Owner_(b));
    std::swap(a, b);
}

void ColorToRGB(uint32_t colour, uint8_t& b0, uint8_t& b1, uint8_t& b2)
{
    TRACE("ImgRecord.ColorToRGB");
    b0 = static_cast<uint8_t>(colour);
    b1 = static_cast<uint8_t>(colour >> 8);
    b2 = static_cast<uint8_t>(colour >> 16);
}
