// Row readers. libjpeg and libpng are C built without unwinding support: their errors long-jump
// back to the one setjmp of each step (JpgRun_, PngRun_), whose frame and every frame between it
// and the library hold only plain data. The C++ side then raises through the monitor.
// Decoder states are plain heap blocks outside the memory registry: the monitor releases
// registered blocks when an error is raised, before FFRowsClose can let the library go.
#include "formats/FFRows.h"

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "formats/FFFile.h"
#include "formats/FFSniff.h"
#include "formats/FF_PNG.h"
#include "formats/FF_WEBP.h"
#include "image/ImgOrient.h"
#include "image/ImgResampleRows.h"

namespace {

enum { FR_NONE = 0, FR_WHOLE = 1, FR_JPEG = 2, FR_PNG = 3, FR_WEBP = 4 };

struct JpgErr_ {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

struct JpgRows_ {
    jpeg_decompress_struct cinfo;  // first: the library's callbacks find the state through it
    JpgErr_ err;
    jpeg_source_mgr src;
    jpeg_progress_mgr progress;
    int File;
    bool Created;
    bool NeedsData;  // bigger than a whole picture may be: rows made up past the data are refused
    JOCTET Buf[65536];
};

struct PngRows_ {
    png_structp Png;
    png_infop Info;
    int File;
    int FileError;  // file-class code the read callback met, 0 when none
    char Message[512];
    png_uint_32 Width, Height;
    int BitDepth, ColorType, Interlace, Channels, FileColorType;
    size_t RowBytes;
};

typedef void (*JpgStep_)(JpgRows_*, uint8_t*);
typedef void (*PngStep_)(PngRows_*, uint8_t*);

}  // namespace

// ---------------------------------------------------------------- JPEG (plain frames: no TRACE)

static void JpgErrorExit_(j_common_ptr c) { longjmp(reinterpret_cast<JpgErr_*>(c->err)->jump, 1); }

// The codec's policy: a truncated file is damage, and so are endless corrupt-data warnings.
static void JpgEmitMessage_(j_common_ptr c, int level)
{
    if (level >= 0) return;
    jpeg_error_mgr* e = c->err;
    e->num_warnings++;
    if (e->msg_code == JWRN_JPEG_EOF || e->num_warnings > 1000) JpgErrorExit_(c);
    // Past the end of a scan libjpeg makes up grey rows for free: billions of them take minutes.
    if (e->msg_code == JWRN_HIT_MARKER && reinterpret_cast<JpgRows_*>(c)->NeedsData) JpgErrorExit_(c);
}

static void JpgOutputMessage_(j_common_ptr) {}

// Progressive files with thousands of tiny scans cost time out of all proportion.
static void JpgProgress_(j_common_ptr c)
{
    if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > 500) JpgErrorExit_(c);
}

static void JpgInitSource_(j_decompress_ptr) {}
static void JpgTermSource_(j_decompress_ptr) {}

static boolean JpgFill_(j_decompress_ptr c)
{
    JpgRows_* j = reinterpret_cast<JpgRows_*>(c);
    int64_t got = 0;
    FReadPart(j->File, j->Buf, sizeof j->Buf, got);
    if (got <= 0) {
        // As libjpeg's own file source does: an end of image, after a warning that is fatal here.
        WARNMS(c, JWRN_JPEG_EOF);
        j->Buf[0] = 0xFF;
        j->Buf[1] = JPEG_EOI;
        got = 2;
    }
    c->src->next_input_byte = j->Buf;
    c->src->bytes_in_buffer = static_cast<size_t>(got);
    return TRUE;
}

static void JpgSkipInput_(j_decompress_ptr c, long count)
{
    while (count > 0) {
        if (count <= static_cast<long>(c->src->bytes_in_buffer)) {
            c->src->next_input_byte += count;
            c->src->bytes_in_buffer -= static_cast<size_t>(count);
            return;
        }
        count -= static_cast<long>(c->src->bytes_in_buffer);
        JpgFill_(c);
    }
}

static void JpgHeader_(JpgRows_* j, uint8_t*)
{
    jpeg_decompress_struct* c = &j->cinfo;
    c->err = jpeg_std_error(&j->err.pub);
    j->err.pub.error_exit = JpgErrorExit_;
    j->err.pub.emit_message = JpgEmitMessage_;
    j->err.pub.output_message = JpgOutputMessage_;
    jpeg_create_decompress(c);
    j->Created = true;
    // A progressive file keeps all its coefficients: no more than a whole picture may take.
    c->mem->max_memory_to_use = IMG_MAX_BYTES;
    j->src.init_source = JpgInitSource_;
    j->src.fill_input_buffer = JpgFill_;
    j->src.skip_input_data = JpgSkipInput_;
    j->src.resync_to_restart = jpeg_resync_to_restart;
    j->src.term_source = JpgTermSource_;
    c->src = &j->src;
    jpeg_read_header(c, TRUE);
}

static void JpgStart_(JpgRows_* j, uint8_t*)
{
    jpeg_decompress_struct* c = &j->cinfo;
    const bool grey = c->jpeg_color_space == JCS_GRAYSCALE;
    c->out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    j->progress.progress_monitor = JpgProgress_;
    c->progress = &j->progress;
    jpeg_start_decompress(c);
    if (c->output_components != (grey ? 1 : 3) || c->output_width != c->image_width ||
        c->output_height != c->image_height)
        JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
}

static void JpgReadRow_(JpgRows_* j, uint8_t* row)
{
    JSAMPROW r = row;
    if (jpeg_read_scanlines(&j->cinfo, &r, 1) != 1) JpgErrorExit_(reinterpret_cast<j_common_ptr>(&j->cinfo));
}

static void JpgFinish_(JpgRows_* j, uint8_t*) { jpeg_finish_decompress(&j->cinfo); }

// The one setjmp of a JPEG step: 0 when it ran through, 1 when libjpeg raised an error.
static int JpgRun_(JpgRows_* j, JpgStep_ step, uint8_t* row)
{
    if (setjmp(j->err.jump)) return 1;
    step(j, row);
    return 0;
}

// ---------------------------------------------------------------- PNG (plain frames: no TRACE)

static void PngError_(png_structp png, png_const_charp msg)
{
    PngRows_* p = static_cast<PngRows_*>(png_get_error_ptr(png));
    snprintf(p->Message, sizeof p->Message, "%s", msg ? msg : "");
    png_longjmp(png, 1);
}

static void PngWarning_(png_structp, png_const_charp msg)
{
    try {
        MonWarningMsg(EC_CODEC, msg ? msg : "", __LINE__);
    } catch (...) {
        // nothing may propagate into libpng
    }
}

static void PngReadData_(png_structp png, png_bytep data, png_size_t length)
{
    PngRows_* p = static_cast<PngRows_*>(png_get_io_ptr(png));
    int64_t got = 0;
    FReadPart(p->File, data, static_cast<int64_t>(length), got);
    if (got != static_cast<int64_t>(length)) {
        p->FileError = FE_READ;
        png_error(png, "Cannot read from file.");
    }
}

// The reading transformations of PNGLoad; interlaced files stop after the header.
static void PngHeader_(PngRows_* p, uint8_t*)
{
    png_structp png = p->Png;
    png_infop info = p->Info;
    png_set_read_fn(png, p, PngReadData_);
    png_read_info(png, info);
    png_get_IHDR(png, info, &p->Width, &p->Height, &p->BitDepth, &p->ColorType, &p->Interlace, nullptr, nullptr);
    p->FileColorType = p->ColorType;
    if (p->Interlace != PNG_INTERLACE_NONE) return;
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    if (p->ColorType == PNG_COLOR_TYPE_GRAY && p->BitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    png_set_packing(png);
    png_set_bgr(png);
    png_read_update_info(png, info);
    png_get_IHDR(png, info, &p->Width, &p->Height, &p->BitDepth, &p->ColorType, &p->Interlace, nullptr, nullptr);
    p->Channels = png_get_channels(png, info);
    p->RowBytes = png_get_rowbytes(png, info);
}

static void PngReadRow_(PngRows_* p, uint8_t* row) { png_read_row(p->Png, row, nullptr); }
static void PngFinish_(PngRows_* p, uint8_t*) { png_read_end(p->Png, nullptr); }

static int PngRun_(PngRows_* p, PngStep_ step, uint8_t* row)
{
    if (setjmp(png_jmpbuf(p->Png))) return 1;
    step(p, row);
    return 0;
}

// ---------------------------------------------------------------- C++ side

static JpgRows_* Jpg_(FFRowReader& rd) { return static_cast<JpgRows_*>(rd.Codec); }
static PngRows_* Png_(FFRowReader& rd) { return static_cast<PngRows_*>(rd.Codec); }

static void JpgCheck_(FFRowReader& rd, JpgStep_ step, uint8_t* row)
{
    // The whole-file reader reports every JPEG failure alike.
    if (JpgRun_(Jpg_(rd), step, row)) MonError(EC_IMAGE, IE_OPEN, __LINE__);
}

static void PngCheck_(FFRowReader& rd, PngStep_ step, uint8_t* row)
{
    if (!PngRun_(Png_(rd), step, row)) return;
    TRACE("FFRows.PngCheck_");
    if (Png_(rd)->FileError) MonError(EC_FILE, Png_(rd)->FileError, __LINE__);
    MonErrorMsg(EC_CODEC, Png_(rd)->Message, __LINE__);
}

// Releases the decoder and its file; the kind falls back to none.
static void FFRowsDropCodec_(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsDropCodec_");
    if (rd.Kind == FR_JPEG && Jpg_(rd)) {
        if (Jpg_(rd)->Created) jpeg_destroy_decompress(&Jpg_(rd)->cinfo);
        FClose(Jpg_(rd)->File);
    } else if (rd.Kind == FR_PNG && Png_(rd)) {
        png_destroy_read_struct(&Png_(rd)->Png, &Png_(rd)->Info, nullptr);
        FClose(Png_(rd)->File);
    } else if (rd.Kind == FR_WEBP) {
        WebpRows* rows = static_cast<WebpRows*>(rd.Codec);
        WEBPClose(rows);
        rd.Codec = nullptr;
    }
    std::free(rd.Codec);
    rd.Codec = nullptr;
    rd.Kind = FR_NONE;
}

// A fresh zeroed decoder state of size bytes, with the file open on its first byte.
static void* FFRowsNewCodec_(FFRowReader& rd, int kind, size_t size, const std::string& name)
{
    TRACE("FFRows.FFRowsNewCodec_");
    rd.Codec = std::calloc(1, size);
    if (!rd.Codec) MonError(EC_MEMORY, ME_ALLOC, __LINE__);
    rd.Kind = kind;
    int& file = kind == FR_JPEG ? Jpg_(rd)->File : Png_(rd)->File;
    file = Undef;
    FFOpenRead(file, name);
    return rd.Codec;
}

static void FFRowsAllocNative_(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsAllocNative_");
    if (rd.Bpp == 8) MemAllocT(&rd.Native, rd.Width, __LINE__, "FFRows.native");
}

// Opens a JPEG stream; false when the picture needs the whole-file reader (CMYK).
static bool FFRowsOpenJpg_(FFRowReader& rd, const std::string& name)
{
    TRACE("FFRows.FFRowsOpenJpg_");
    JpgRows_* j = static_cast<JpgRows_*>(FFRowsNewCodec_(rd, FR_JPEG, sizeof(JpgRows_), name));
    JpgCheck_(rd, JpgHeader_, nullptr);
    const J_COLOR_SPACE cs = j->cinfo.jpeg_color_space;
    if (cs == JCS_CMYK || cs == JCS_YCCK) return false;
    j->NeedsData = !ImgSizeOK(j->cinfo.image_width, j->cinfo.image_height, 24);
    JpgCheck_(rd, JpgStart_, nullptr);
    rd.Width = static_cast<int32_t>(j->cinfo.output_width);
    rd.Height = static_cast<int32_t>(j->cinfo.output_height);
    rd.Bpp = j->cinfo.output_components * 8;
    for (int i = 0; i < 256; i++) rd.Pal[i][0] = rd.Pal[i][1] = rd.Pal[i][2] = static_cast<uint8_t>(i);
    FFRowsAllocNative_(rd);
    return true;
}

// The palette PNGLoad gives: the grey ramp for grey files, the file's entries for palette files.
static void FFRowsPngPalette_(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsPngPalette_");
    PngRows_* p = Png_(rd);
    std::memset(rd.Pal, 0, sizeof rd.Pal);
    if (p->FileColorType == PNG_COLOR_TYPE_GRAY || p->FileColorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_color ramp[256];
        png_build_grayscale_palette(8, ramp);
        for (int i = 0; i < 256; i++) rd.Pal[i][0] = rd.Pal[i][1] = rd.Pal[i][2] = ramp[i].red;
        return;
    }
    png_colorp plte = nullptr;
    int count = 0;
    if (p->FileColorType != PNG_COLOR_TYPE_PALETTE || !png_get_PLTE(p->Png, p->Info, &plte, &count) || !plte) return;
    for (int i = 0; i < std::min(count, 256); i++) {
        rd.Pal[i][0] = plte[i].blue;
        rd.Pal[i][1] = plte[i].green;
        rd.Pal[i][2] = plte[i].red;
    }
}

// Opens a PNG stream; false when the picture needs the whole-file reader (interlaced).
static bool FFRowsOpenPng_(FFRowReader& rd, const std::string& name)
{
    TRACE("FFRows.FFRowsOpenPng_");
    PngRows_* p = static_cast<PngRows_*>(FFRowsNewCodec_(rd, FR_PNG, sizeof(PngRows_), name));
    p->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, p, PngError_, PngWarning_);
    if (!p->Png) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
    p->Info = png_create_info_struct(p->Png);
    if (!p->Info) MonError(EC_IMAGE, IE_INIT_COMPRESSION, __LINE__);
    PNGSkipExif(p->Png);
    PngCheck_(rd, PngHeader_, nullptr);
    if (p->Interlace != PNG_INTERLACE_NONE) return false;
    if ((p->Channels != 1 && p->Channels != 3) || p->BitDepth != 8) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (p->RowBytes != static_cast<size_t>(p->Width) * static_cast<size_t>(p->Channels) || p->Width > INT32_MAX ||
        p->Height > INT32_MAX)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    rd.Width = static_cast<int32_t>(p->Width);
    rd.Height = static_cast<int32_t>(p->Height);
    rd.Bpp = p->Channels * 8;
    FFRowsPngPalette_(rd);
    FFRowsAllocNative_(rd);
    return true;
}

static void FFRowsOpenWebp_(FFRowReader& rd, const std::string& name)
{
    TRACE("FFRows.FFRowsOpenWebp_");
    WebpRows* rows = nullptr;
    rd.Kind = FR_WEBP;
    WEBPOpen(name, rows, rd.Width, rd.Height);
    rd.Codec = rows;
    rd.Bpp = 24;
}

static void FFRowsOpenWhole_(FFRowReader& rd, const std::string& name, int32_t format)
{
    TRACE("FFRows.FFRowsOpenWhole_");
    rd.Kind = FR_WHOLE;
    ImgLoad(name, rd.Whole, format);
    if (rd.Whole.Bpp != 8 && rd.Whole.Bpp != 24) ImgConvBpp(rd.Whole, rd.Whole, 24);
    rd.Width = rd.Whole.Width;
    rd.Height = rd.Whole.Height;
    rd.Bpp = rd.Whole.Bpp;
    std::memcpy(rd.Pal, rd.Whole.Pal, sizeof rd.Pal);
}

// Turns the picture upright as far as memory allows (see FFRowReader.Pending).
static void FFRowsTurn_(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsTurn_");
    const int32_t o = rd.Pending = rd.Orientation;
    if (o == 1) return;
    if (o == 2) {
        rd.Mirror = true;
        rd.Pending = 1;
        return;
    }
    if (!ImgSizeOK(rd.Width, rd.Height, 24)) return;
    if (rd.Kind != FR_WHOLE) {
        ImgAllocNamed(rd.Whole, rd.Width, rd.Height, "FFRows.FFRowsTurn_.Whole", __LINE__, 24);
        for (int32_t y = 0; y < rd.Height; ++y) FFRowsRead(rd, rd.Whole.Data + static_cast<size_t>(y) * rd.Width * 3);
        FFRowsEnd(rd);
        FFRowsDropCodec_(rd);
        MemFreeT(&rd.Native);
        rd.Kind = FR_WHOLE;
        rd.Bpp = 24;
        rd.Row = 0;
    }
    ImgOrient(rd.Whole, rd.Whole, o);
    rd.Width = rd.Whole.Width;
    rd.Height = rd.Whole.Height;
    rd.Pending = 1;
}

void FFRowsOpen(FFRowReader& rd, const std::string& name, int32_t format)
{
    TRACE("FFRows.FFRowsOpen");
    MonBlock([&] {
        try {
            FFRowsClose(rd);
            if (format == Undef) format = FFFormatOfFile(name);
            // Streamed only when the content is what the format says; the dispatcher judges the rest.
            bool streamed = false;
            if ((format == FMT_JPEG || format == FMT_PNG) && FFSniffFormat(name) == format)
                streamed = format == FMT_JPEG ? FFRowsOpenJpg_(rd, name) : FFRowsOpenPng_(rd, name);
            if (format == FMT_WEBP && FFSniffFormat(name) == format) {
                FFRowsOpenWebp_(rd, name);
                streamed = true;
            }
            if (!streamed) {
                FFRowsDropCodec_(rd);
                FFRowsOpenWhole_(rd, name, format);
            }
            rd.Orientation = FFOrientation(name);
            FFRowsTurn_(rd);
        } catch (...) {
            FFRowsClose(rd);
            throw;
        }
    });
}

static void FFRowsPalRow_(const FFRowReader& rd, const uint8_t* in, uint8_t* out)
{
    for (int32_t x = 0; x < rd.Width; ++x, out += 3) {
        const uint8_t* c = rd.Pal[in[x]];
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
    }
}

void FFRowsRead(FFRowReader& rd, uint8_t* row)
{
    TRACE("FFRows.FFRowsRead");
    if (rd.Kind == FR_NONE || rd.Row >= rd.Height) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
    uint8_t* into = rd.Bpp == 8 ? rd.Native : row;
    switch (rd.Kind) {
    case FR_JPEG: JpgCheck_(rd, JpgReadRow_, into); break;
    case FR_PNG: PngCheck_(rd, PngReadRow_, into); break;
    case FR_WEBP: WEBPNextRow(static_cast<WebpRows*>(rd.Codec), into); break;
    default: into = rd.Whole.Data + static_cast<size_t>(rd.Row) * rd.Width * rd.Whole.BytesPerPixel; break;
    }
    if (rd.Bpp == 8) FFRowsPalRow_(rd, into, row);
    else if (into != row) std::memcpy(row, into, static_cast<size_t>(rd.Width) * 3);
    if (rd.Mirror)
        for (int32_t a = 0, b = rd.Width - 1; a < b; ++a, --b) std::swap_ranges(row + a * 3, row + a * 3 + 3, row + b * 3);
    ++rd.Row;
}

void FFRowsSkip(FFRowReader& rd, int64_t count)
{
    TRACE("FFRows.FFRowsSkip");
    count = std::min<int64_t>(count, rd.Height - rd.Row);
    if (count <= 0) return;
    if (rd.Kind == FR_WHOLE) {
        rd.Row += static_cast<int32_t>(count);
        return;
    }
    uint8_t* scratch = nullptr;
    MemAllocT(&scratch, static_cast<int64_t>(rd.Width) * 3, __LINE__, "FFRows.FFRowsSkip.scratch");
    for (; count > 0; --count) FFRowsRead(rd, scratch);
    MemFreeT(&scratch);
}

void FFRowsEnd(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsEnd");
    FFRowsSkip(rd, rd.Height - rd.Row);
    if (rd.Kind == FR_JPEG) JpgCheck_(rd, JpgFinish_, nullptr);
    else if (rd.Kind == FR_PNG) PngCheck_(rd, PngFinish_, nullptr);
}

void FFRowsClose(FFRowReader& rd)
{
    TRACE("FFRows.FFRowsClose");
    FFRowsDropCodec_(rd);
    ImgFree(rd.Whole);
    MemFreeT(&rd.Native);
    rd = FFRowReader{};
}

// ---------------------------------------------------------------- resampling a window

namespace {
// Where the picture's columns go in a window row.
struct WindowCols_ {
    int64_t PicFirst, PicEnd;  // picture columns inside the window
    bool Covers;               // the window holds whole picture rows: decode straight into the line
    bool Inside;               // the window lies within the picture rows: use the decoded row in place
};
}  // namespace

static WindowCols_ FFRowsWindowCols_(const FFRowReader& rd, int64_t left, int64_t w)
{
    WindowCols_ c;
    c.PicFirst = std::clamp<int64_t>(left, 0, rd.Width);
    c.PicEnd = std::clamp<int64_t>(left + w, c.PicFirst, rd.Width);
    c.Covers = left <= 0 && left + w >= rd.Width;
    c.Inside = !c.Covers && left >= 0 && left + w <= rd.Width;
    return c;
}

// Reads the next picture row and returns the window row that shows it.
static const uint8_t* FFRowsWindowRow_(FFRowReader& rd, const WindowCols_& c, int64_t left, uint8_t* line,
                                       uint8_t* decoded)
{
    if (c.Covers) {
        FFRowsRead(rd, line - left * 3);
        return line;
    }
    FFRowsRead(rd, decoded);
    if (c.Inside) return decoded + left * 3;
    std::memcpy(line + (c.PicFirst - left) * 3, decoded + c.PicFirst * 3, static_cast<size_t>(c.PicEnd - c.PicFirst) * 3);
    return line;
}

void FFRowsResample(FFRowReader& rd, int64_t left, int64_t top, int64_t w, int64_t h, Image& dst, int width,
                    int height)
{
    TRACE("FFRows.FFRowsResample");
    ImgRowResample rs;
    uint8_t* lines = nullptr;    // a batch of window rows, black outside the picture
    uint8_t* decoded = nullptr;  // a batch of picture rows, when they do not go straight into the lines
    MonBlock([&] {
        try {
            // Memory grows with the widths (some thirty work rows) and time with the heights, row by
            // row. A side longer than a whole picture may hold 32 rows of would let a tiny file
            // (a bitmap that ends its rows early) claim gigabytes or minutes.
            if (!ImgSizeOK(std::max({w, h, static_cast<int64_t>(rd.Width), static_cast<int64_t>(rd.Height)}), 32, 24))
                MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
            const WindowCols_ c = FFRowsWindowCols_(rd, left, w);
            ImgRowsBegin(rs, w, h, dst, width, height, c.PicFirst - left, c.PicEnd - c.PicFirst);
            const int64_t lineBytes = w * 3, rowBytes = static_cast<int64_t>(rd.Width) * 3;
            MemAllocT(&lines, lineBytes * IMG_ROWS_BATCH, __LINE__, "FFRows.FFRowsResample.lines");
            std::memset(lines, 0, static_cast<size_t>(lineBytes) * IMG_ROWS_BATCH);
            if (!c.Covers) MemAllocT(&decoded, rowBytes * IMG_ROWS_BATCH, __LINE__, "FFRows.FFRowsResample.rows");
            const int64_t first = std::clamp<int64_t>(top, 0, rd.Height);
            const int64_t end = std::clamp<int64_t>(top + h, first, rd.Height);
            ImgRowsPutBlack(rs, std::clamp<int64_t>(-top, 0, h));
            FFRowsSkip(rd, first);
            const uint8_t* batch[IMG_ROWS_BATCH];
            for (int64_t y = first; y < end;) {
                const int k = static_cast<int>(std::min<int64_t>(IMG_ROWS_BATCH, end - y));
                for (int i = 0; i < k; ++i)
                    batch[i] = FFRowsWindowRow_(rd, c, left, lines + i * lineBytes, decoded ? decoded + i * rowBytes : nullptr);
                ImgRowsPut(rs, batch, k);
                y += k;
            }
            ImgRowsPutBlack(rs, h - rs.Row);
            FFRowsEnd(rd);
            ImgRowsEnd(rs);
        } catch (...) {
            ImgRowsFree(rs);
            throw;
        }
        MemFreeT(&decoded);
        MemFreeT(&lines);
    });
}
