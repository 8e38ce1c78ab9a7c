// The codec library's JPEG functions over libjpeg-turbo. libjpeg reports fatal errors through
// error_exit, which must not return: ours long-jumps back to the one setjmp of each operation.
// Those setjmp frames and everything between them and libjpeg hold only plain C data, so the
// jump skips no destructor. This stands in for a foreign library: only its exported functions
// announce themselves on the trace; the helpers, some of them left by long jumps, do not.
#include "platform/JpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "base/Mon.h"

namespace {

struct JpgErr_ {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

struct JpgDec_ {
    jpeg_decompress_struct cinfo;
    JpgErr_ err;
    jpeg_progress_mgr progress;
    FILE* file;
    bool created;
    uint8_t* cmykRow;  // malloc'd, CMYK files only
    int32_t width, height, components;
};

struct JpgEnc_ {
    jpeg_compress_struct cinfo;
    JpgErr_ err;
    FILE* file;
    bool created;
};

}  // namespace

static void JpgErrorExit_(j_common_ptr c)
{
    longjmp(reinterpret_cast<JpgErr_*>(c->err)->jump, 1);
}

static void JpgEmitMessage_(j_common_ptr c, int level)
{
    if (level >= 0) return;  // trace messages
    jpeg_error_mgr* e = c->err;
    e->num_warnings++;
    // libjpeg pads a truncated file with grey and calls it a warning; for us it is damage.
    // Endless corrupt-data warnings mean the file is hopeless.
    if (e->msg_code == JWRN_JPEG_EOF || e->num_warnings > 1000) JpgErrorExit_(c);
}

static void JpgOutputMessage_(j_common_ptr) {}

// Progressive files with thousands of tiny scans cost time out of all proportion.
static void JpgProgress_(j_common_ptr c)
{
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > 500) JpgErrorExit_(c);
}

static void JpgErrInit_(JpgErr_* e)
{
    jpeg_std_error(&e->pub);
    e->pub.error_exit = JpgErrorExit_;
    e->pub.emit_message = JpgEmitMessage_;
    e->pub.output_message = JpgOutputMessage_;
}

static int JpgComponents_(const jpeg_decompress_struct* c)
{
    return c->jpeg_color_space == JCS_GRAYSCALE ? 1 : 3;
}

static void JpgReadRows_(JpgDec_* d, uint8_t* pixels)
{
    jpeg_decompress_struct* c = &d->cinfo;
    switch (c->jpeg_color_space) {
    case JCS_GRAYSCALE: c->out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: c->out_color_space = JCS_CMYK; break;
    default: c->out_color_space = JCS_EXT_BGR; break;
    }
    d->progress.progress_monitor = JpgProgress_;
    c->progress = &d->progress;
    jpeg_start_decompress(c);
    bool cmyk = c->out_color_space == JCS_CMYK;
    int comps = JpgComponents_(c);
    if ((int64_t)c->output_width != d->width || (int64_t)c->output_height != d->height || comps != d->components ||
        c->output_components != (cmyk ? 4 : comps))
        JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
    size_t stride = (size_t)d->width * comps;
    if (cmyk) {
        d->cmykRow = static_cast<uint8_t*>(malloc((size_t)d->width * 4));
        if (!d->cmykRow) JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
    }
    // Adobe writes CMYK inverted (0 = full ink); others store it plainly.
    bool inverted = c->saw_Adobe_marker;
    while (c->output_scanline < c->output_height) {
        uint8_t* dst = pixels + (size_t)c->output_scanline * stride;
        JSAMPROW row = cmyk ? d->cmykRow : dst;
        if (jpeg_read_scanlines(c, &row, 1) != 1) JpgErrorExit_(reinterpret_cast<j_common_ptr>(c));
        if (cmyk) {
            const uint8_t* s = d->cmykRow;
            for (int x = 0; x < d->width; x++, s += 4, dst += 3) {
                unsigned cc = s[0], m = s[1], y = s[2], k = s[3];
                if (!inverted) cc = 255 - cc, m = 255 - m, y = 255 - y, k = 255 - k;
                dst[0] = (uint8_t)((y * k + 127) / 255);
                dst[1] = (uint8_t)((m * k + 127) / 255);
                dst[2] = (uint8_t)((cc * k + 127) / 255);
            }
        }
    }
    jpeg_finish_decompress(c);
}

// The one setjmp of a decode; pixels null reads the header only.
static int JpgDecode_(JpgDec_* d, uint8_t* pixels)
{
    if (setjmp(d->err.jump)) return 1;
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    jpeg_stdio_src(&d->cinfo, d->file);
    jpeg_read_header(&d->cinfo, TRUE);
    if (!pixels) {
        d->width = (int32_t)d->cinfo.image_width;
        d->height = (int32_t)d->cinfo.image_height;
        d->components = JpgComponents_(&d->cinfo);
        return 0;
    }
    if ((int64_t)d->cinfo.image_width != d->width || (int64_t)d->cinfo.image_height != d->height ||
        JpgComponents_(&d->cinfo) != d->components)
        return 1;
    JpgReadRows_(d, pixels);
    return 0;
}

static int JpgRead_(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components)
{
    if (!name || !width || !height || !components) return 1;
    JpgDec_ d;
    memset(&d, 0, sizeof d);
    if (pixels) {
        if (*width <= 0 || *height <= 0 || (*components != 1 && *components != 3)) return 1;
        if ((int64_t)*width * *height * *components > JPEG_MAX_BYTES) return 1;
        d.width = *width;
        d.height = *height;
        d.components = *components;
    }
    d.file = fopen(name, "rb");
    if (!d.file) return 1;
    d.cinfo.err = &d.err.pub;
    JpgErrInit_(&d.err);
    int rc = JpgDecode_(&d, pixels);
    if (d.created) jpeg_destroy_decompress(&d.cinfo);
    fclose(d.file);
    free(d.cmykRow);
    if (rc == 0) {
        *width = d.width;
        *height = d.height;
        *components = d.components;
    }
    return rc;
}

int info_JPEG_file(const char* name, int32_t* width, int32_t* height, int32_t* components)
{
    TRACE("JpegCodec.info_JPEG_file");
    return JpgRead_(name, nullptr, width, height, components);
}

int read_JPEG_file(const char* name, uint8_t* pixels, int32_t* width, int32_t* height, int32_t* components)
{
    TRACE("JpegCodec.read_JPEG_file");
    if (!pixels) return 1;
    return JpgRead_(name, pixels, width, height, components);
}

static void JpgWriteRows_(JpgEnc_* e, const uint8_t* pixels, int32_t width)
{
    size_t stride = (size_t)width * 3;
    while (e->cinfo.next_scanline < e->cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels + (size_t)e->cinfo.next_scanline * stride);
        jpeg_write_scanlines(&e->cinfo, &row, 1);
    }
}

static int JpgEncode_(JpgEnc_* e, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)
{
    if (setjmp(e->err.jump)) return 1;
    jpeg_create_compress(&e->cinfo);
    e->created = true;
    jpeg_stdio_dest(&e->cinfo, e->file);
    e->cinfo.image_width = (JDIMENSION)width;
    e->cinfo.image_height = (JDIMENSION)height;
    e->cinfo.input_components = 3;
    e->cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&e->cinfo);
    jpeg_set_quality(&e->cinfo, quality, TRUE);
    jpeg_start_compress(&e->cinfo, TRUE);
    JpgWriteRows_(e, pixels, width);
    jpeg_finish_compress(&e->cinfo);
    return 0;
}

int write_JPEG_file(const char* name, const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)
{
    TRACE("JpegCodec.write_JPEG_file");
    if (!name || !pixels || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return 1;
    if (quality < 0) quality = 0;
    if (quality > 100) quality = 100;
    JpgEnc_ e;
    memset(&e, 0, sizeof e);
    e.file = fopen(name, "wb");
    if (!e.file) return 1;
    e.cinfo.err = &e.err.pub;
    JpgErrInit_(&e.err);
    int rc = JpgEncode_(&e, pixels, width, height, quality);
    if (e.created) jpeg_destroy_compress(&e.cinfo);
    if (ferror(e.file)) rc = 1;
    if (fclose(e.file) != 0) rc = 1;
    if (rc != 0) remove(name);
    return rc;
}
