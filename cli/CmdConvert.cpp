// kvs convert IN OUT [--format ID] [--resize W H | --resample W H] [--colors N [--dither MODE]]
// kvs info FILE
// Both go through the format dispatcher exactly as the program's own loading and saving do.
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "formats/FFDispatch.h"
#include "formats/FFSniff.h"
#include "image/ImgBasic.h"
#include "image/ImgResize.h"
#include "image/PalOpt.h"

// Whole decimal number within low..high; false for anything else.
static bool ParseInt_(const std::string& text, int low, int high, int& value)
{
    TRACE("Kvs.ParseInt_");
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

// Short name of the row with this identifier, "" when the table has none.
static std::string FormatName_(int direction, int32_t id)
{
    TRACE("Kvs.FormatName_");
    for (int i = 0; i < FFTableCount(direction); ++i)
        if (FFTableRow(direction, i).Id == id) return FFTableRow(direction, i).Short;
    return "";
}

// Depth of the pixels the writer stores: BMP and TGA write any depth but 5-6-5 (as 24),
// PCX only 8 and 24, the others follow the writer depth table.
static int32_t WrittenBpp_(int32_t format, int32_t bpp)
{
    TRACE("Kvs.WrittenBpp_");
    if (format == FMT_BMP || format == FMT_TGA) return bpp == 16 ? 24 : bpp;
    if (format == FMT_PCX) return bpp == 8 ? 8 : 24;
    return FFTargetBpp(format, bpp);
}

static std::string Describe_(int32_t format, const Image& img)
{
    TRACE("Kvs.Describe_");
    return "format=" + FormatName_(FF_WRITE, format) + " width=" + std::to_string(img.Width) +
           " height=" + std::to_string(img.Height) + " bpp=" + std::to_string(WrittenBpp_(format, img.Bpp));
}

// The reading format of a file; logo files (".sys") are bitmaps, as when adding images.
static int32_t InputFormat_(const std::string& name)
{
    int32_t format = FFFormatOfFile(name);
    if (format == Undef && name.size() > 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".sys") format = FMT_BMP;
    }
    return format;
}

int CmdConvert(const std::vector<std::string>& args)
{
    TRACE("Kvs.CmdConvert");
    std::vector<std::string> files;
    int32_t format = Undef;
    int scaleMode = 0;   // 0 none, 1 resize, 2 resample
    int width = 0, height = 0, colors = 0, dither = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](size_t k) -> const std::string* { return i + k < args.size() ? &args[i + k] : nullptr; };
        if (a == "--format") {
            int id = 0;
            if (!value(1) || !ParseInt_(*value(1), 1, 19, id))
                return KvsUsageError("convert", "--format needs a format identifier 1..19");
            format = id;
            i += 1;
        } else if (a == "--resize" || a == "--resample") {
            if (scaleMode != 0) return KvsUsageError("convert", "give one of --resize and --resample, once");
            if (!value(1) || !value(2) || !ParseInt_(*value(1), 1, 65535, width) ||
                !ParseInt_(*value(2), 1, 65535, height))
                return KvsUsageError("convert", a + " needs a width and a height (1..65535)");
            scaleMode = a == "--resize" ? 1 : 2;
            i += 2;
        } else if (a == "--colors") {
            if (!value(1) || !ParseInt_(*value(1), 2, 256, colors))
                return KvsUsageError("convert", "--colors needs a number of colours 2..256");
            i += 1;
        } else if (a == "--dither") {
            const std::string* v = value(1);
            if (v && *v == "none") dither = PAL_REMAP_NONE;
            else if (v && *v == "ordered") dither = PAL_REMAP_ORDERED;
            else if (v && *v == "diffusion") dither = PAL_REMAP_DIFFUSION;
            else return KvsUsageError("convert", "--dither needs none, ordered or diffusion");
            i += 1;
        } else if (a.size() > 1 && a[0] == '-') {
            return KvsUsageError("convert", "unknown option '" + a + "'");
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) return KvsUsageError("convert", "needs an input and an output file");
    if (dither >= 0 && colors == 0) return KvsUsageError("convert", "--dither needs --colors");
    if (dither < 0) dither = PAL_REMAP_NONE;

    return KvsRun([&] {
        Image img, out;
        ImgLoad(files[0], img, InputFormat_(files[0]));
        if (scaleMode == 1) ImgResize(img, img, width, height);
        if (scaleMode == 2) ImgResample(img, img, width, height);
        if (colors > 0) {
            PalInit();
            PalCountColors(img);
            PalReduce(colors);
            PalRemap(img, out, dither);
            PalDone();
            ImgXchg(img, out);
            ImgFree(out);
        }
        int32_t target = format != Undef ? format : FFFormatOfName(files[1], FF_WRITE);
        ImgSave(files[1], img, target);
        KvsOut("wrote " + files[1] + " " + Describe_(target, img));
        ImgFree(img);
    });
}

int CmdInfo(const std::vector<std::string>& args)
{
    TRACE("Kvs.CmdInfo");
    std::string first = KvsFirstOption(args);
    if (!first.empty()) return KvsUsageError("info", "unknown option '" + first + "'");
    if (args.size() != 1) return KvsUsageError("info", "needs one file");
    return KvsRun([&] {
        Image img;
        int32_t format = InputFormat_(args[0]);
        ImgLoad(args[0], img, format);
        // Width and height are as loaded; a picture added is shown as orientation says.
        const int32_t orientation = FFOrientationShown(args[0]);
        KvsOut("format=" + FormatName_(FF_READ, format) + " width=" + std::to_string(img.Width) +
               " height=" + std::to_string(img.Height) + " bpp=" + std::to_string(img.Bpp) +
               (orientation != 1 ? " orientation=" + std::to_string(orientation) : std::string()));
        ImgFree(img);
    });
}
