#include "ui/ImgDisplay.h"

#include <cstring>

#include <QPainter>

#include "base/Mon.h"

QVector<QRgb> PalPut(const uint8_t pal[256][3])
{
    TRACE("ImgDisplay.PalPut");
    QVector<QRgb> table(256);
    for (int i = 0; i < 256; i++) table[i] = qRgb(pal[i][2], pal[i][1], pal[i][0]);
    return table;
}

QRect ImgPutRect(const Image& img, int left, int top, int width, int height)
{
    TRACE("ImgDisplay.ImgPutRect");
    if (left >= img.Width || left < 0) left = 0;
    if (top >= img.Height || top < 0) top = 0;
    if (width <= 0) width = img.Width;
    if (height <= 0) height = img.Height;
    if (left + width > img.Width) width = img.Width - left;
    if (top + height > img.Height) height = img.Height - top;
    return QRect(left, top, width, height);
}

static bool Drawable_(const Image& img)
{
    if (!img.Data || img.Width <= 0 || img.Height <= 0) return false;
    if (img.BytesPerPixel < 1 || img.BytesPerPixel > 4) return false;
    // The record's own size must cover the rows we read.
    return static_cast<int64_t>(img.Width) * img.Height * img.BytesPerPixel <= static_cast<int64_t>(img.Size);
}

QImage ImgToQImage(const Image& img)
{
    TRACE("ImgDisplay.ImgToQImage");
    if (!Drawable_(img)) return QImage();
    QImage::Format fmt;
    switch (img.Bpp) {
    case 8: fmt = QImage::Format_Indexed8; break;
    case 15: fmt = QImage::Format_RGB555; break;
    case 16: fmt = QImage::Format_RGB16; break;
    case 24: fmt = QImage::Format_BGR888; break;
    case 32: fmt = QImage::Format_RGB32; break;
    default: return QImage();
    }
    QImage q(img.Width, img.Height, fmt);
    if (q.isNull()) return q;
    const int rowBytes = img.Width * img.BytesPerPixel;
    // QImage rows are padded to 4 bytes; ours are packed, so copy row by row.
    for (int y = 0; y < img.Height; y++) {
        const uint8_t* src = img.Data + static_cast<int64_t>(y) * rowBytes;
        uchar* dst = q.scanLine(y);
        std::memcpy(dst, src, rowBytes);
        if (img.Bpp == 32)  // the fourth byte is ignored by conversions; Qt wants it opaque
            for (int x = 0; x < img.Width; x++) dst[x * 4 + 3] = 0xFF;
        if (img.Bpp == 15)  // bit 15 is defined as zero
            for (int x = 0; x < img.Width; x++) dst[x * 2 + 1] &= 0x7F;
    }
    if (img.Bpp == 8) q.setColorTable(PalPut(img.Pal));
    return q;
}

void ImgPutEx(const Image& img, int left, int top, int width, int height, QPainter& dc, int ditherMode, int x, int y)
{
    TRACE("ImgDisplay.ImgPutEx");
    (void)ditherMode;
    QImage q = ImgToQImage(img);
    if (q.isNull()) return;
    const QRect r = ImgPutRect(img, left, top, width, height);
    if (r.width() <= 0 || r.height() <= 0) return;
    dc.drawImage(QPoint(x, y), q, r);
}

void ImgPut(const Image& img, QPainter& dc, int x, int y)
{
    TRACE("ImgDisplay.ImgPut");
    ImgPutEx(img, 0, 0, 0, 0, dc, 0, x, y);
}
