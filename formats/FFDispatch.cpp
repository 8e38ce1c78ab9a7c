// Format dispatch and format basics.
#include "formats/FFDispatch.h"

#include <vector>

#include "base/Mon.h"
#include "formats/ConForm.h"

#include "formats/FF_BAY.h"
#include "formats/FF_GIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "formats/FF_XPM.h"

namespace {

const QffDesc kReadTable_[] = {
    {7, 0x1A, ".qmf", "QMF", "Quick Movie Format", "QMF, Quick Movie Format"},
    {4, 0x0B, ".gif.giff", "GIF", "Graphics Interchange Format", "GIF, Graphics Interchange Format"},
    {3, 0x09, ".bmp.dib.rle", "BMP", "Windows Device Independent Bitmap", "BMP/DIB, Windows Device Independent Bitmap"},
    {5, 0x0A, ".flc.fli", "FLIC", "Autodesk FLIC", "FLIC/FLIC-Pro, Autodesk"},
    {14, 0x09, ".ras.sun.im1", "RGB", "Sun Raster Image", "RAS, Sun Raster Image"},
    {13, 0x09, ".rgb.rgba.bw.sgi", "SGI", "Silicon Graphics Image", "RGB, Silicon Graphics Image"},
    {15, 0x09, ".pnm.ppm.pgm", "PNM", "Portable Image", "PNM, Portable Image"},
    {2, 0x09, ".pcx", "PCX", "Zsoft Paintbrush", "PCX, Zsoft Paintbrush"},
    {9, 0x09, ".png", "PNG", "Portable Network Graphics", "PNG, Portable Network Graphics"},
    {6, 0x1A, ".avi", "AVI", "Windows Audio Video Interleaved", "AVI, Windows Audio Video Interleaved"},
    {12, 0x14, ".wav", "WAV", "Windows Wave Sound", "WAV, Windows Wave Sound"},
    {8, 0x09, ".jpg.jpeg.jif.jfif.jpe.J", "JPEG", "Joint Photographic Experts Group", "JPEG, Joint Photographic Experts Group"},
    {10, 0x09, ".tif.tiff", "TIFF", "Tagged Image File Format", "TIFF, Tagged Image File Format"},
    {11, 0x1A, ".mpg.mpeg.m1v.m2v.mpe", "MPEG", "Moving Pictures Experts Group", "MPEG, Moving Pictures Experts Group"},
    {1, 0x09, ".tga", "TGA", "Truevision Targa", "TGA, Truevision Targa"},
    {16, 0x09, ".bay", "BAY", "Bayer Image", "BAY, Bayer Image"},
    {17, 0x09, ".xpm", "XPM", "X PixMap", "XPM, X PixMap"},
    {11, 0x14, ".mp3.mpa.mp2", "MPA", "MPEG Audio Layer I/II/III", "MP3/MPA, MPEG Audio Layer I/II/III"},
    {19, 0x14, ".ogg", "OGG", "Ogg Vorbis Audio", "OGG, Ogg Vorbis Audio"},
};

const QffDesc kWriteTable_[] = {
    {6, 0x1A, ".avi", "AVI", "Windows Audio Video Interleaved", "AVI, Windows Audio Video Interleaved"},
    {3, 0x09, ".bmp.dib", "BMP", "Windows Device Independent Bitmap", "BMP/DIB, Windows Device Independent Bitmap"},
    {5, 0x0A, ".flc.fli", "FLIC", "Autodesk FLIC", "FLIC/FLIC-Pro, Autodesk"},
    {7, 0x1A, ".qmf", "QMF", "Quick Movie Format", "QMF, Quick Movie Format"},
    {8, 0x09, ".jpg.jpeg", "JPEG", "Joint Photographic Experts Group", "JPEG, Joint Photographic Experts Group"},
    {2, 0x09, ".pcx", "PCX", "Zsoft Paintbrush", "PCX, Zsoft Paintbrush"},
    {9, 0x09, ".png", "PNG", "Portable Network Graphics", "PNG, Portable Network Graphics"},
    {1, 0x09, ".tga", "TGA", "Truevision Targa", "TGA, Truevision Targa"},
    {11, 0x1A, ".mpg.mpeg.m1v.m2v", "MPEG", "Moving Pictures Experts Group", "MPEG, Moving Pictures Experts Group"},
    {12, 0x14, ".wav", "WAV", "Windows Wave Sound", "WAV, Windows Wave Sound"},
    {13, 0x09, ".rgb.sgi", "SGI", "Silicon Graphics Image", "RGB, Silicon Graphics Image"},
    {14, 0x09, ".ras.sun.im1", "RGB", "Sun Raster Image", "RAS, Sun Raster Image"},
    {15, 0x09, ".ppm.pnm", "PPM", "Portable PixelMap", "PPM, Portable PixelMap"},
    {10, 0x09, ".tif.tiff", "TIFF", "Tagged Image File Format", "TIFF, Tagged Image File Format"},
    {17, 0x09, ".xpm", "XPM", "X PixMap", "XPM, X PixMap"},
    {18, 0x14, ".mp2", "MPA", "MPEG Audio Layer II", "MP2, MPEG Audio Layer II"},
    {19, 0x14, ".ogg", "OGG", "Ogg Vorbis Audio", "OGG, Ogg Vorbis Audio"},
};

// Writer depth table: format, then the depth for a source of 8, 15, 16, 24, 32, any other.
struct DepthRow_ {
    int32_t Id;
    int32_t To[6];
};
const DepthRow_ kDepthTable_[] = {
    {6, {8, 15, 24, 24, 24, 24}},  {3, {8, 15, 24, 24, 32, 24}},  {5, {8, 8, 8, 8, 8, 8}},
    {7, {8, 16, 16, 24, 24, 24}},  {8, {24, 24, 24, 24, 24, 24}}, {2, {8, 24, 24, 24, 24, 24}},
    {9, {8, 24, 24, 24, 24, 24}},  {1, {8, 15, 24, 24, 32, 24}},  {11, {24, 24, 24, 24, 24, 24}},
    {12, {0, 0, 0, 0, 0, 0}},      {13, {24, 24, 24, 24, 32, 24}}, {14, {8, 24, 24, 24, 32, 24}},
    {15, {24, 24, 24, 24, 24, 24}}, {10, {8, 24, 24, 24, 24, 24}}, {17, {24, 24, 24, 24, 24, 24}},
    {18, {0, 0, 0, 0, 0, 0}},      {19, {0, 0, 0, 0, 0, 0}},
};

constexpr int kReadCount_ = sizeof(kReadTable_) / sizeof(kReadTable_[0]);
constexpr int kWriteCount_ = sizeof(kWriteTable_) / sizeof(kWriteTable_[0]);

} // namespace

static std::string LowerAscii_(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// ".bmp.dib.rle" -> "*.bmp;*.dib;*.rle" and "bmp,dib,rle".
static void FFConvExt_(const std::string& ext, std::string& patterns, std::string& shortList)
{
    TRACE("FFDispatch.FFConvExt_");
    patterns.clear();
    for (size_t i = 0; i < ext.size(); ++i) {
        if (ext[i] != '.') continue;
        size_t next = ext.find('.', i + 1);
        if (next == std::string::npos) next = ext.size();
        patterns += "*." + ext.substr(i + 1, next - i - 1) + ";";
    }
    if (!patterns.empty()) patterns.pop_back();
    shortList = ext;
    for (char& c : shortList)
        if (c == '.') c = ',';
    if (!shortList.empty()) shortList.erase(0, 1);
}

int FFTableCount(int direction)
{
    TRACE("FFDispatch.FFTableCount");
    return direction == FF_WRITE ? kWriteCount_ : kReadCount_;
}

const QffDesc& FFTableRow(int direction, int index)
{
    TRACE("FFDispatch.FFTableRow");
    if (direction == FF_WRITE) return kWriteTable_[ClampInt(index, 0, kWriteCount_ - 1)];
    return kReadTable_[ClampInt(index, 0, kReadCount_ - 1)];
}

void FFFormatOfName(const std::string& name, int direction, QffDesc& desc)
{
    TRACE("FFDispatch.FFFormatOfName");
    desc = QffDesc();
    desc.Id = Undef;
    // The extension belongs to the last path component only.
    size_t slash = name.find_last_of('/');
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return;
    // The trailing dot keeps ".jp" from matching inside ".jpg.".
    std::string ext = LowerAscii_(name.substr(dot)) + ".";
    const QffDesc* table = direction == FF_WRITE ? kWriteTable_ : kReadTable_;
    int count = direction == FF_WRITE ? kWriteCount_ : kReadCount_;
    for (int i = 0; i < count; ++i) {
        if (LowerAscii_(table[i].Ext + ".").find(ext) != std::string::npos) {
            desc = table[i];
            return;
        }
    }
}

int32_t FFFormatOfName(const std::string& name, int direction)
{
    TRACE("FFDispatch.FFFormatOfName");
    QffDesc desc;
    FFFormatOfName(name, direction, desc);
    return desc.Id;
}

void FFMakeLoadFilter(int32_t mask, int32_t flags, std::string& filter)
{
    TRACE("FFDispatch.FFMakeLoadFilter");
    std::vector<std::string> entries;
    std::string all;
    int taking = 0;
    for (int i = 0; i < kReadCount_; ++i) {
        const QffDesc& row = kReadTable_[i];
        if (mask != 0 && (row.Mask & mask) == 0) continue;
        ++taking;
        std::string patterns, shortList;
        FFConvExt_(row.Ext, patterns, shortList);
        std::string caption = (flags & FFF_LONG_NAMES) ? row.Long : row.Short;
        if (flags & FFF_EXT_LIST) caption += " (" + shortList + ")";
        std::string entry = caption + "|" + patterns;
        all += patterns + ";";
        // After every entry that compares less or equal, so equal entries keep table order.
        size_t pos = entries.size();
        while (pos > 0 && entry < entries[pos - 1]) --pos;
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(pos), entry);
    }
    filter.clear();
    if (!(flags & FFF_NO_ALL) && taking >= 2) {
        all.pop_back();
        filter = "All supported formats|" + all + "|";
    }
    for (const std::string& e : entries) filter += e + "|";
    if (!(flags & FFF_NO_ALL)) filter += "Any file (*.*)|*.*";
}

std::string FFMakeLoadFilter(int32_t mask, int32_t flags)
{
    TRACE("FFDispatch.FFMakeLoadFilter");
    std::string filter;
    FFMakeLoadFilter(mask, flags, filter);
    return filter;
}

int32_t FFTargetBpp(int32_t format, int32_t bpp)
{
    TRACE("FFDispatch.FFTargetBpp");
    int column;
    switch (bpp) {
    case 8: column = 0; break;
    case 15: column = 1; break;
    case 16: column = 2; break;
    case 24: column = 3; break;
    case 32: column = 4; break;
    default: column = 5; break;
    }
    for (const DepthRow_& row : kDepthTable_)
        if (row.Id == format) return row.To[column];
    return Undef;
}

static void FFClear_(FFInfo& ffi)
{
    ffi.img = nullptr;
    ffi.temp_img = Image();
    ffi.temp_used = false;
}

void FFInit(int32_t format, FFInfo& ffi, Image& image, int align)
{
    TRACE("FFDispatch.FFInit");
    FFClear_(ffi);
    try {
        MonBlock([&] {
            bool ok = ImgIsValid(image) && image.Width >= 4 && image.Width <= 4096 && image.Height >= 4 &&
                      image.Height <= 4096;
            int32_t target = ok ? FFTargetBpp(format, image.Bpp) : Undef;
            // A target of 0 means the format takes no pictures at all.
            if (target == Undef || target <= 0) ok = false;
            if (!ok) {
                MonError(EC_MOVIE2, 1, __LINE__);
                return;
            }
            if (align < 1) align = 1;
            Image* src = &image;
            int w = (image.Width + align - 1) / align * align;
            int h = (image.Height + align - 1) / align * align;
            if (w != image.Width || h != image.Height) {
                _imgalloc_(ffi.temp_img, w, h, "FFDispatch.FFInit.temp_img", __LINE__, image.Bpp);
                FillMem(0, ffi.temp_img.Size, ffi.temp_img.Data);
                ImgCopyPalette(image, ffi.temp_img);
                ImgInsert(image, ffi.temp_img, 0, 0);
                ffi.temp_used = true;
                src = &ffi.temp_img;
            }
            if (target != src->Bpp) {
                ImgConvBpp(*src, ffi.temp_img, target);
                ffi.temp_used = true;
            }
            ffi.img = ffi.temp_used ? &ffi.temp_img : &image;
        });
    } catch (...) {
        // The failing block has already released temp_img's block.
        FFClear_(ffi);
        throw;
    }
}

void FFDone(FFInfo& ffi)
{
    TRACE("FFDispatch.FFDone");
    if (ffi.temp_used) ImgFree(ffi.temp_img);
    FFClear_(ffi);
}

static void GIFLoadFirst_(const std::string& name, Image& img)
{
    TRACE("FFDispatch.GIFLoadFirst_");
    GIFFile gf;
    try {
        GIFOpen(gf, name, -1);
        if (MonOK()) GIFLoadNext(gf, img);
    } catch (...) {
        GIFClose(gf);
        throw;
    }
    GIFClose(gf);
}

void ImgLoad(const std::string& name, Image& img, int32_t format)
{
    TRACE("FFDispatch.ImgLoad");
    MonBlock([&] {
        if (format == Undef) format = FFFormatOfName(name, FF_READ);
        switch (format) {
        case FMT_TGA:
        case FMT_PCX:
        case FMT_BMP: ConLoad(name, img, format); break;
        case FMT_GIF: GIFLoadFirst_(name, img); break;
        case FMT_JPEG: JPGLoad(name, img); break;
        case FMT_PNG: PNGLoad(name, img); break;
        case FMT_TIFF: TIFLoad(name, img); break;
        case FMT_XPM: XPMLoad(name, img); break;
        case FMT_SGI: SGILoad(name, img); break;
        case FMT_RAS: RASLoad(name, img); break;
        case FMT_PNM: PNMLoad(name, img); break;
        case FMT_BAY: BayLoad(name, img); break;
        default: MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__); break;
        }
    });
}

void ImgSave(const std::string& name, Image& img, int32_t format)
{
    TRACE("FFDispatch.ImgSave");
    MonBlock([&] {
        if (!ImgIsValid(img)) {
            MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
            return;
        }
        if (format == Undef) format = FFFormatOfName(name, FF_WRITE);
        switch (format) {
        case FMT_TGA:
        case FMT_PCX:
        case FMT_BMP: ConSave(name, img, format); break;
        case FMT_JPEG: JPGSave(name, img); break;
        case FMT_PNG: PNGSave(name, img); break;
        case FMT_TIFF: TIFSave(name, img); break;
        case FMT_XPM: XPMSave(name, img); break;
        case FMT_SGI: SGISave(name, img); break;
        case FMT_RAS: RASSave(name, img); break;
        case FMT_PNM: PNMSave(name, img); break;
        default: MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__); break;
        }
    });
}
