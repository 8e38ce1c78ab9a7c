// HEIF reading. libheif reports failures as returned records, never by unwinding into us.
#include "formats/FF_HEIF.h"

#include <libheif/heif.h>

#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFFile.h"

namespace {

// Everything libheif handed us, released in one place whatever happened.
struct HeifState_ {
    heif_context* Ctx = nullptr;
    heif_image_handle* Handle = nullptr;
    heif_image* Pic = nullptr;
    heif_decoding_options* Options = nullptr;
};

void HeifFree_(HeifState_& s)
{
    if (s.Pic) heif_image_release(s.Pic);
    if (s.Handle) heif_image_handle_release(s.Handle);
    if (s.Ctx) heif_context_free(s.Ctx);
    if (s.Options) heif_decoding_options_free(s.Options);
    s = HeifState_();
}

// libheif's own limit on either side, well above anything the pixel-block limit lets through.
constexpr int kMaxSide_ = 1 << 15;

}  // namespace

static void HEIFDecode_(const std::string& name, HeifState_& s, Image& img)
{
    TRACE("FF_HEIF.HEIFDecode_");
    s.Ctx = heif_context_alloc();
    if (!s.Ctx) MonError(EC_MEMORY, ME_ALLOC, __LINE__);
    heif_context_set_maximum_image_size_limit(s.Ctx, kMaxSide_);
    if (heif_context_read_from_file(s.Ctx, name.c_str(), nullptr).code != heif_error_Ok)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    if (heif_context_get_primary_image_handle(s.Ctx, &s.Handle).code != heif_error_Ok)
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    const int w = heif_image_handle_get_width(s.Handle), h = heif_image_handle_get_height(s.Handle);
    if (w <= 0 || h <= 0) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    // Refused before decoding: the decoder's own buffers are several times the picture.
    if (!ImgSizeOK(w, h, 24)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    s.Options = heif_decoding_options_alloc();
    if (!s.Options) MonError(EC_MEMORY, ME_ALLOC, __LINE__);
    s.Options->ignore_transformations = 0;
    const heif_error e = heif_decode_image(s.Handle, &s.Pic, heif_colorspace_RGB, heif_chroma_interleaved_RGB, s.Options);
    if (e.code == heif_error_Unsupported_feature || e.code == heif_error_Unsupported_filetype)
        MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
    if (e.code != heif_error_Ok || !s.Pic) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    int stride = 0;
    const uint8_t* px = heif_image_get_plane_readonly(s.Pic, heif_channel_interleaved, &stride);
    // The decoded picture is the transformed one: its sides are read again.
    const int pw = heif_image_get_width(s.Pic, heif_channel_interleaved);
    const int ph = heif_image_get_height(s.Pic, heif_channel_interleaved);
    if (!px || pw <= 0 || ph <= 0 || stride < pw * 3 || !ImgSizeOK(pw, ph, 24)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    ImgAllocNamed(img, pw, ph, "FF_HEIF.HEIFLoad.img", __LINE__, 24);
    for (int y = 0; y < ph; ++y) {
        const uint8_t* s8 = px + static_cast<size_t>(y) * stride;
        uint8_t* d = img.Data + static_cast<size_t>(y) * pw * 3;
        for (int x = 0; x < pw; ++x, s8 += 3, d += 3) {
            d[0] = s8[2];
            d[1] = s8[1];
            d[2] = s8[0];
        }
    }
}

void HEIFLoad(const std::string& name, Image& img)
{
    TRACE("FF_HEIF.HEIFLoad");
    HeifState_ s;
    MonBlock([&] {
        try {
            FFCheckRegular(name);
            // A missing or unreadable file gives the file error every reader gives.
            int handle = Undef;
            FOpen(handle, name, FM_READ);
            FClose(handle);
            HEIFDecode_(name, s, img);
        } catch (...) {
            HeifFree_(s);
            throw;
        }
        HeifFree_(s);
    });
}
