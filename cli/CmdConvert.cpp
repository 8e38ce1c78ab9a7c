// kvs convert and kvs info: both go through the format dispatcher exactly as the program's own
// loading and saving do.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "formats/FFDispatch.h"
#include "formats/FFPrepare.h"
#include "formats/FFSniff.h"
#include "image/ImgBasic.h"
#include "image/ImgResize.h"
#include "image/PalOpt.h"

namespace {

// Short name of the row with this identifier, "" when the table has none.
std::string FormatName_(int direction, int32_t id)
{
    TRACE("Kvs.FormatName_");
    for (int i = 0; i < FFTableCount(direction); ++i)
        if (FFTableRow(direction, i).Id == id) return FFTableRow(direction, i).Short;
    return "";
}

// Depth of the pixels the writer stores: BMP and TGA write any depth but 5-6-5 (as 24),
// PCX only 8 and 24, the others follow the writer depth table.
int32_t WrittenBpp_(int32_t format, int32_t bpp)
{
    TRACE("Kvs.WrittenBpp_");
    if (format == FMT_BMP || format == FMT_TGA) return bpp == 16 ? 24 : bpp;
    if (format == FMT_PCX) return bpp == 8 ? 8 : 24;
    return FFTargetBpp(format, bpp);
}

std::string Describe_(int32_t format, const Image& img)
{
    TRACE("Kvs.Describe_");
    return "format=" + FormatName_(FF_WRITE, format) + " width=" + std::to_string(img.Width) +
           " height=" + std::to_string(img.Height) + " bpp=" + std::to_string(WrittenBpp_(format, img.Bpp));
}

// The reading format of a file; logo files (".sys") are bitmaps, as when adding images.
int32_t InputFormat_(const std::string& name)
{
    int32_t format = FFFormatOfFile(name);
    if (format == Undef && name.size() > 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".sys") format = FMT_BMP;
    }
    return format;
}

// The first extension of every writer of still pictures: ".bmp .jpg .pcx ...".
std::string WrittenExtensions_()
{
    TRACE("Kvs.WrittenExtensions_");
    std::string s;
    for (int i = 0; i < FFTableCount(FF_WRITE); ++i) {
        if (!(FFTableRow(FF_WRITE, i).Mask & FFC_STILL)) continue;
        const std::string& ext = FFTableRow(FF_WRITE, i).Ext;
        const size_t end = ext.find('.', 1);
        if (!ext.empty()) s += (s.empty() ? "" : " ") + ext.substr(0, end);
    }
    return s;
}

int Convert_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("Kvs.Convert_");
    const std::vector<std::string>& files = args.operands;
    if (files.size() != 2) return KvsUsageError(self.name, "needs an input and an output file");
    const int32_t format = KvsNumber(args, "--format", Undef);
    const int32_t target = format != Undef ? format : FFFormatOfName(files[1], FF_WRITE);
    if (target == Undef) {
        const std::string ext = std::filesystem::path(files[1]).extension().string();
        return KvsUsageError(self.name, (ext.empty() ? "'" + files[1] + "' has no extension"
                                                     : "no picture type is written as '" + ext + "'") +
                                            " (give --format ID, or one of " + WrittenExtensions_() + ")");
    }
    const std::string scale = KvsHas(args, "--resize") ? "--resize" : KvsHas(args, "--resample") ? "--resample" : "";
    const int colors = KvsNumber(args, "--colors", 0);
    const int dither = std::max(KvsChoice(self.options, args, "--dither"), static_cast<int>(PAL_REMAP_NONE));

    return KvsRun([&] {
        Image img, out;
        ImgLoad(files[0], img, InputFormat_(files[0]));
        if (!scale.empty()) {
            const int width = KvsNumber(args, scale, 0, 0), height = KvsNumber(args, scale, 0, 1);
            if (scale == "--resize") ImgResize(img, img, width, height);
            else ImgResample(img, img, width, height);
        }
        if (colors > 0) {
            PalInit();
            PalCountColors(img);
            PalReduce(colors);
            PalRemap(img, out, dither);
            PalDone();
            ImgXchg(img, out);
            ImgFree(out);
        }
        ImgSave(files[1], img, target);
        KvsOut("wrote " + files[1] + " " + Describe_(target, img));
        ImgFree(img);
    });
}

int Info_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("Kvs.Info_");
    if (args.operands.size() != 1) return KvsUsageError(self.name, "needs one file");
    const std::string& file = args.operands[0];
    return KvsRun([&] {
        Image img;
        int32_t format = InputFormat_(file);
        ImgLoad(file, img, format);
        // Width and height are as loaded; a picture added is shown as orientation says.
        const int32_t orientation = FFOrientationShown(file);
        KvsOut("format=" + FormatName_(FF_READ, format) + " width=" + std::to_string(img.Width) +
               " height=" + std::to_string(img.Height) + " bpp=" + std::to_string(img.Bpp) +
               (orientation != 1 ? " orientation=" + std::to_string(orientation) : std::string()));
        ImgFree(img);
    });
}

}  // namespace

// The choices of --dither are the remap modes in their order.
static_assert(PAL_REMAP_NONE == 0 && PAL_REMAP_ORDERED == 1 && PAL_REMAP_DIFFUSION == 2);

const KvsCommand KVS_CONVERT = {
    .name = "convert",
    .proc = Convert_,
    .operands = "IN OUT %o",
    .summary = "convert a picture file, optionally scaled and reduced",
    .help = "Loads IN through the format reader its extension names, then scales it (--resize or\n"
            "--resample), then reduces its colours (--colors), and writes OUT in the format of its\n"
            "extension, or of --format ID (1 TGA, 2 PCX, 3 BMP, 8 JPEG, 9 PNG, 10 TIFF, 13 SGI,\n"
            "14 Sun raster, 15 PNM, 17 XPM). Prints the written file with format=, width=, height=,\n"
            "bpp= (the depth stored in the file).",
    .options = {
        {.name = "--format", .kind = KVS_INT, .value = "ID", .low = 1, .high = 19, .help = "the format to write"},
        {.name = "--resize", .kind = KVS_INT, .value = "W H", .low = 1, .high = 65535,
         .help = "nearest-neighbour scaling (8-bit pictures stay 8-bit)", .excludes = "--resample"},
        {.name = "--resample", .kind = KVS_INT, .value = "W H", .low = 1, .high = 65535,
         .help = "averaging scaling (the result has 24 bits)", .excludes = "--resize"},
        {.name = "--colors", .kind = KVS_INT, .value = "N", .low = 2, .high = 256,
         .help = "reduction to an optimised palette of N colours"},
        {.name = "--dither", .kind = KVS_CHOICE, .value = "none|ordered|diffusion",
         .help = "how the colours are remapped (default: none)", .needs = "--colors"},
    },
    .complete = "file",
};

const KvsCommand KVS_INFO = {
    .name = "info",
    .proc = Info_,
    .operands = "FILE",
    .summary = "print a picture's format, size and depth",
    .help = "Loads FILE through the format reader its extension names and prints\n"
            "format=NAME width=W height=H bpp=B, for example format=BMP width=320 height=400 bpp=8.",
    .complete = "file",
};
