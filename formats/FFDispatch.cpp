// Format dispatch.
#include "formats/FFDispatch.h"

#include <algorithm>
#include <vector>

#include "base/Mon.h"
#include "base/StrUtil.h"
#include "formats/ConForm.h"
#include "formats/FFSniff.h"

#include "formats/FF_BAY.h"
#include "formats/FF_GIF.h"
#include "formats/FF_HEIF.h"
#include "formats/FF_JPG.h"
#include "formats/FF_PNG.h"
#include "formats/FF_PNM.h"
#include "formats/FF_RAS.h"
#include "formats/FF_SGI.h"
#include "formats/FF_TIF.h"
#include "formats/FF_WEBP.h"
#include "formats/FF_XPM.h"

namespace {

struct FFCaption_ {
    const char* Short;  // "BMP"
    const char* Desc;   // "Windows Device Independent Bitmap"
    const char* Long;   // "BMP/DIB, Windows Device Independent Bitmap", the dialog caption
};

using FFLoadFn_ = void (*)(const std::string&, Image&);
using FFSaveFn_ = void (*)(const std::string&, Image&);

// Everything the program knows of one format. The rows stand in reading-table order; the
// writing table takes the rows with a WriteExt, ordered by WriteRank.
struct FFFormat_ {
    int32_t Id;
    int32_t Mask;
    const char* ReadExt;   // nullptr: not in the reading table
    const char* WriteExt;  // nullptr: not in the writing table
    FFCaption_ Caption;
    int WriteRank;
    FFLoadFn_ Load;        // nullptr: ImgLoad refuses the format
    FFSaveFn_ Save;        // nullptr: ImgSave refuses the format
    int32_t WriteId = 0;                        // 0: Id
    const FFCaption_* WriteCaption = nullptr;  // nullptr: Caption
};

void TGALoad_(const std::string& name, Image& img) { ConLoad(name, img, FMT_TGA); }
void PCXLoad_(const std::string& name, Image& img) { ConLoad(name, img, FMT_PCX); }
void BMPLoad_(const std::string& name, Image& img) { ConLoad(name, img, FMT_BMP); }
void TGASave_(const std::string& name, Image& img) { ConSave(name, img, FMT_TGA); }
void PCXSave_(const std::string& name, Image& img) { ConSave(name, img, FMT_PCX); }
void BMPSave_(const std::string& name, Image& img) { ConSave(name, img, FMT_BMP); }
void GIFLoadFirst_(const std::string& name, Image& img);

constexpr int32_t kStill_ = FFC_STILL | FFC_PICTURES;                // 0x09
constexpr int32_t kMovie_ = FFC_MULTI | FFC_PICTURES | FFC_SOUND;     // 0x1A
constexpr int32_t kSound_ = FFC_SOUND_ONLY | FFC_SOUND;               // 0x14
constexpr int32_t kNone_ = -1;                                        // not in the writing table

const FFCaption_ kPPMCaption_ = {"PPM", "Portable PixelMap", "PPM, Portable PixelMap"};
const FFCaption_ kMP2Caption_ = {"MPA", "MPEG Audio Layer II", "MP2, MPEG Audio Layer II"};

const FFFormat_ kFormats_[] = {
    {FMT_QMF, kMovie_, ".qmf", ".qmf", {"QMF", "Quick Movie Format", "QMF, Quick Movie Format"},
     3, nullptr, nullptr},
    {FMT_GIF, FFC_STILL | FFC_MULTI | FFC_PICTURES, ".gif.giff", nullptr,
     {"GIF", "Graphics Interchange Format", "GIF, Graphics Interchange Format"},
     kNone_, GIFLoadFirst_, nullptr},
    {FMT_BMP, kStill_, ".bmp.dib.rle", ".bmp.dib",
     {"BMP", "Windows Device Independent Bitmap", "BMP/DIB, Windows Device Independent Bitmap"},
     1, BMPLoad_, BMPSave_},
    {FMT_FLIC, FFC_MULTI | FFC_PICTURES, ".flc.fli", ".flc.fli", {"FLIC", "Autodesk FLIC", "FLIC/FLIC-Pro, Autodesk"},
     2, nullptr, nullptr},
    {FMT_RAS, kStill_, ".ras.sun.im1", ".ras.sun.im1", {"RGB", "Sun Raster Image", "RAS, Sun Raster Image"},
     11, RASLoad, RASSave},
    {FMT_SGI, kStill_, ".rgb.rgba.bw.sgi", ".rgb.sgi", {"SGI", "Silicon Graphics Image", "RGB, Silicon Graphics Image"},
     10, SGILoad, SGISave},
    {FMT_PNM, kStill_, ".pnm.ppm.pgm", ".ppm.pnm", {"PNM", "Portable Image", "PNM, Portable Image"},
     12, PNMLoad, PNMSave, 0, &kPPMCaption_},
    {FMT_PCX, kStill_, ".pcx", ".pcx", {"PCX", "Zsoft Paintbrush", "PCX, Zsoft Paintbrush"},
     5, PCXLoad_, PCXSave_},
    {FMT_PNG, kStill_, ".png", ".png", {"PNG", "Portable Network Graphics", "PNG, Portable Network Graphics"},
     6, PNGLoad, PNGSave},
    {FMT_AVI, kMovie_, ".avi", ".avi", {"AVI", "Windows Audio Video Interleaved", "AVI, Windows Audio Video Interleaved"},
     0, nullptr, nullptr},
    {FMT_WAV, kSound_, ".wav", ".wav", {"WAV", "Windows Wave Sound", "WAV, Windows Wave Sound"},
     9, nullptr, nullptr},
    {FMT_JPEG, kStill_, ".jpg.jpeg.jif.jfif.jpe.J", ".jpg.jpeg",
     {"JPEG", "Joint Photographic Experts Group", "JPEG, Joint Photographic Experts Group"},
     4, JPGLoad, JPGSave},
    {FMT_TIFF, kStill_, ".tif.tiff", ".tif.tiff", {"TIFF", "Tagged Image File Format", "TIFF, Tagged Image File Format"},
     13, TIFLoad, TIFSave},
    {FMT_MPEG, kMovie_, ".mpg.mpeg.m1v.m2v.mpe", ".mpg.mpeg.m1v.m2v",
     {"MPEG", "Moving Pictures Experts Group", "MPEG, Moving Pictures Experts Group"},
     8, nullptr, nullptr},
    {FMT_TGA, kStill_, ".tga", ".tga", {"TGA", "Truevision Targa", "TGA, Truevision Targa"},
     7, TGALoad_, TGASave_},
    {FMT_BAY, kStill_, ".bay", nullptr, {"BAY", "Bayer Image", "BAY, Bayer Image"}, kNone_, BayLoad, nullptr},
    {FMT_XPM, kStill_, ".xpm", ".xpm", {"XPM", "X PixMap", "XPM, X PixMap"},
     14, XPMLoad, XPMSave},
    // MPEG audio is read under the MPEG identifier and written under its own.
    {FMT_MPEG, kSound_, ".mp3.mpa.mp2", ".mp2", {"MPA", "MPEG Audio Layer I/II/III", "MP3/MPA, MPEG Audio Layer I/II/III"},
     15, nullptr, nullptr, FMT_MPA, &kMP2Caption_},
    {FMT_OGG, kSound_, ".ogg", ".ogg", {"OGG", "Ogg Vorbis Audio", "OGG, Ogg Vorbis Audio"},
     16, nullptr, nullptr},
    // Read only: what browsers save and phones take.
    {FMT_WEBP, kStill_, ".webp", nullptr, {"WEBP", "WebP Image", "WEBP, WebP Image"}, kNone_, WEBPLoad, nullptr},
    {FMT_HEIF, kStill_, ".heic.heif.hif", nullptr,
     {"HEIC", "High Efficiency Image File", "HEIC/HEIF, High Efficiency Image File"}, kNone_, HEIFLoad, nullptr},
    {FMT_AVIF, kStill_, ".avif", nullptr, {"AVIF", "AV1 Image File", "AVIF, AV1 Image File"}, kNone_, HEIFLoad, nullptr},
};

int32_t WriteIdOf_(const FFFormat_& f) { return f.WriteId ? f.WriteId : f.Id; }

QffDesc DescOf_(int32_t id, int32_t mask, const char* ext, const FFCaption_& c)
{
    return QffDesc{id, mask, ext, c.Short, c.Desc, c.Long};
}

// The two tables as the look-ups and the dialog filter walk them, built once from kFormats_.
struct FFTables_ {
    std::vector<QffDesc> Read, Write;
    std::vector<const FFFormat_*> Writers;  // parallel to Write
};

const FFTables_& Tables_()
{
    static const FFTables_ t = [] {
        FFTables_ r;
        for (const FFFormat_& f : kFormats_)
            if (f.ReadExt) r.Read.push_back(DescOf_(f.Id, f.Mask, f.ReadExt, f.Caption));
        for (const FFFormat_& f : kFormats_)
            if (f.WriteExt) r.Writers.push_back(&f);
        std::stable_sort(r.Writers.begin(), r.Writers.end(),
                         [](const FFFormat_* a, const FFFormat_* b) { return a->WriteRank < b->WriteRank; });
        for (const FFFormat_* f : r.Writers)
            r.Write.push_back(DescOf_(WriteIdOf_(*f), f->Mask, f->WriteExt, f->WriteCaption ? *f->WriteCaption : f->Caption));
        return r;
    }();
    return t;
}

const std::vector<QffDesc>& Table_(int direction) { return direction == FF_WRITE ? Tables_().Write : Tables_().Read; }

} // namespace

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
    return static_cast<int>(Table_(direction).size());
}

const QffDesc& FFTableRow(int direction, int index)
{
    TRACE("FFDispatch.FFTableRow");
    const std::vector<QffDesc>& table = Table_(direction);
    return table[ClampInt(index, 0, static_cast<int>(table.size()) - 1)];
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
    std::string ext = StrLower(name.substr(dot)) + ".";
    for (const QffDesc& row : Table_(direction)) {
        if (StrLower(row.Ext + ".").find(ext) != std::string::npos) {
            desc = row;
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

static bool FFReadable_(int32_t format)
{
    for (const FFFormat_& f : kFormats_)
        if (f.Id == format && f.Load) return true;
    return false;
}

int32_t FFFormatOfFile(const std::string& name)
{
    TRACE("FFDispatch.FFFormatOfFile");
    const int32_t content = FFSniffFormat(name);
    if (content != Undef && FFReadable_(content)) return content;
    return FFFormatOfName(name, FF_READ);
}

void FFMakeLoadFilter(int32_t mask, int32_t flags, std::string& filter)
{
    TRACE("FFDispatch.FFMakeLoadFilter");
    std::vector<std::string> entries;
    std::string all;
    int taking = 0;
    for (const QffDesc& row : Table_(FF_READ)) {
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

namespace {

void GIFLoadFirst_(const std::string& name, Image& img)
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

} // namespace

void ImgLoad(const std::string& name, Image& img, int32_t format)
{
    TRACE("FFDispatch.ImgLoad");
    MonBlock([&] {
        if (format == Undef) format = FFFormatOfFile(name);
        for (const FFFormat_& f : kFormats_) {
            if (f.Id == format && f.Load) {
                f.Load(name, img);
                return;
            }
        }
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
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
        for (const FFFormat_& f : kFormats_) {
            if (WriteIdOf_(f) == format && f.Save) {
                f.Save(name, img);
                return;
            }
        }
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    });
}
