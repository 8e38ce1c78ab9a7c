// GIF reader: screen header, image location (walking the blocks), LZW decoding and the
// composition of every image onto the screen-sized picture.
#include "formats/FF_GIF.h"

#include <algorithm>
#include <cstring>
#include <bit>
#include <filesystem>
#include <vector>

#include "base/Bytes.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "formats/FFFile.h"

namespace {

// Block introducers, and the label of the graphic control extension.
constexpr int GIF_IMAGE_DESCRIPTOR = 0x2C, GIF_EXTENSION = 0x21, GIF_TRAILER = 0x3B;
constexpr int GIF_GRAPHIC_CONTROL = 0xF9;
constexpr int GIF_SCREEN_BYTES = 13, GIF_DESCRIPTOR_BYTES = 9, GIF_GCE_BYTES = 4;
// Flags of the screen and image descriptors, and of the graphic control extension.
constexpr int GIF_COLOUR_TABLE = 0x80, GIF_INTERLACED = 0x40, GIF_TABLE_SIZE_MASK = 7;
constexpr int GIF_GCE_TRANSPARENT = 1;
constexpr int GIF_GCE_DISPOSAL_SHIFT = 2, GIF_GCE_DISPOSAL_MASK = 7;
// What happens to an image's window before the next image is drawn.
enum { GIF_DISPOSE_NONE = 0, GIF_DISPOSE_KEEP = 1, GIF_DISPOSE_BACKGROUND = 2, GIF_DISPOSE_PREVIOUS = 3 };
// Rows of an interlaced image come in four passes.
constexpr int GIF_PASS_START[4] = {0, 4, 2, 1}, GIF_PASS_STEP[4] = {8, 8, 4, 2};
constexpr int GIF_MAX_CODE_SIZE = 12;

constexpr int GIF_POS_PER_BLK = 256;
constexpr int GIF_MAX_BLKS = 1024;          // 262 144 images at most
constexpr int GIF_SCAN_BUF = 65536;
constexpr int GIF_CODES = 4096;
// Compressed data beyond this are never needed for a picture within the size limit.
constexpr int64_t GIF_MAX_CMPS = IMG_MAX_BYTES;

// What precedes and describes one image.
struct GIFHdr_ {
    int64_t Pos = 0;        // where the walk to this image started
    int GCEFlags = 0;       // graphic control extension (zeros without one)
    int Delay = 0;
    int Transp = 0;
    int Left = 0, Top = 0, Width = 0, Height = 0, Flags = 0;
};

// Buffered reading over a file handle.
struct GIFRd_ {
    int Handle = Undef;
    uint8_t* Buf = nullptr;
    int Cap = 0;
    int64_t BufPos = 0;     // file position of Buf[0]
    int N = 0;
    int I = 0;
    int64_t FileSize = 0;
};

struct GIFLast_ {
    bool Valid = false;
    std::string Name;
    int64_t Size = 0;
    int64_t Date = 0;
    GIFFile Rec;
};

}  // namespace

// Position of every located image, 256 to a block; process-wide like the last-file cache.
static int64_t* ImgFPosBlk[GIF_MAX_BLKS] = {};
static int GIFBlkCount = 0;
static GIFLast_ GIFLast;

// ---- buffered reading ----

static void RdInit_(GIFRd_& r, int handle, uint8_t* buf, int cap, int64_t pos, int64_t fileSize)
{
    TRACE("FF_GIF.RdInit_");
    r.Handle = handle;
    r.Buf = buf;
    r.Cap = cap;
    r.FileSize = fileSize;
    r.BufPos = pos;
    r.N = 0;
    r.I = 0;
    FSeek(handle, pos);
}

static inline int64_t RdPos_(const GIFRd_& r) { return r.BufPos + r.I; }

static bool RdFill_(GIFRd_& r)
{
    TRACE("FF_GIF.RdFill_");
    r.BufPos += r.N;
    r.I = 0;
    int64_t got = 0;
    FReadPart(r.Handle, r.Buf, r.Cap, got);
    r.N = static_cast<int>(std::max<int64_t>(got, 0));
    return r.N > 0;
}

static inline int RdByte_(GIFRd_& r)
{
    if (r.I >= r.N && !RdFill_(r)) return -1;
    return r.Buf[r.I++];
}

static bool RdBytes_(GIFRd_& r, uint8_t* dst, int count)
{
    TRACE("FF_GIF.RdBytes_");
    while (count > 0) {
        if (r.I >= r.N && !RdFill_(r)) return false;
        const int k = std::min(count, r.N - r.I);
        std::memcpy(dst, r.Buf + r.I, k);
        r.I += k;
        dst += k;
        count -= k;
    }
    return true;
}

static bool RdSkip_(GIFRd_& r, int64_t count)
{
    TRACE("FF_GIF.RdSkip_");
    if (count <= r.N - r.I) {
        r.I += static_cast<int>(count);
        return true;
    }
    const int64_t target = RdPos_(r) + count;
    if (target > r.FileSize) return false;
    FSeek(r.Handle, target);
    r.BufPos = target;
    r.N = 0;
    r.I = 0;
    return true;
}

// ---- position blocks and caches ----

static void GIFChk4ImgFPos_(int index)
{
    TRACE("FF_GIF.GIFChk4ImgFPos_");
    const int b = index / GIF_POS_PER_BLK;
    // The monitor may have released a block without clearing its variable: ask the registry.
    if (!MemIsRegistered(reinterpret_cast<void* const*>(&ImgFPosBlk[b])))
        MemAllocT(&ImgFPosBlk[b], GIF_POS_PER_BLK * int64_t(sizeof(int64_t)), __LINE__, "FF_GIF.ImgFPosBlk");
    GIFBlkCount = std::max(GIFBlkCount, b + 1);
}

static void GIFSetPos_(int index, int64_t pos)
{
    TRACE("FF_GIF.GIFSetPos_");
    GIFChk4ImgFPos_(index);
    ImgFPosBlk[index / GIF_POS_PER_BLK][index % GIF_POS_PER_BLK] = pos;
}

static int64_t GIFGetPos_(int index)
{
    TRACE("FF_GIF.GIFGetPos_");
    const int b = index / GIF_POS_PER_BLK;
    // A block released by an enclosing monitor block leaves a hole; never read through it.
    if (index < 0 || b >= GIF_MAX_BLKS || !MemIsRegistered(reinterpret_cast<void* const*>(&ImgFPosBlk[b])))
        MonError(EC_IMAGE, IE_HEADER, __LINE__);
    return ImgFPosBlk[b][index % GIF_POS_PER_BLK];
}

static bool GIFPosBlocksPresent_(int count)
{
    TRACE("FF_GIF.GIFPosBlocksPresent_");
    for (int b = 0; b * GIF_POS_PER_BLK < count; ++b)
        if (b >= GIF_MAX_BLKS || !MemIsRegistered(reinterpret_cast<void* const*>(&ImgFPosBlk[b]))) return false;
    return true;
}

static void GIFFreeFPosBlk_()
{
    TRACE("FF_GIF.GIFFreeFPosBlk_");
    for (int b = 0; b < GIFBlkCount; ++b) {
        MemFreeT(&ImgFPosBlk[b]);
        ImgFPosBlk[b] = nullptr;
    }
    GIFBlkCount = 0;
}

void GIFDone()
{
    TRACE("FF_GIF.GIFDone");
    GIFFreeFPosBlk_();
    GIFLast = GIFLast_{};
}

static int64_t GIFFileDate_(const std::string& name)
{
    TRACE("FF_GIF.GIFFileDate_");
    std::error_code ec;
    const auto t = std::filesystem::last_write_time(name, ec);
    return ec ? 0 : static_cast<int64_t>(t.time_since_epoch().count());
}

// ---- header ----

// Reads an image descriptor's fields after its introducer.
static void GIFReadDescriptor_(GIFRd_& r, GIFHdr_& h)
{
    TRACE("FF_GIF.GIFReadDescriptor_");
    uint8_t d[GIF_DESCRIPTOR_BYTES];
    if (!RdBytes_(r, d, sizeof d)) MonError(EC_IMAGE, IE_HEADER, __LINE__);
    ByteCursor c = BytesCursor(d, sizeof d);
    for (int* f : {&h.Left, &h.Top, &h.Width, &h.Height}) *f = BytesReadLE16(c);
    h.Flags = BytesReadU8(c);
}

// Skips an extension's sub-blocks after its introducer, keeping a graphic control
// extension's fields. False when the file ends inside it.
static bool GIFReadExtension_(GIFRd_& r, GIFHdr_& h)
{
    TRACE("FF_GIF.GIFReadExtension_");
    const int label = RdByte_(r);
    if (label < 0) return false;
    for (bool first = true;; first = false) {
        const int len = RdByte_(r);
        if (len < 0) return false;
        if (len == 0) return true;
        if (label == GIF_GRAPHIC_CONTROL && first && len == GIF_GCE_BYTES) {
            uint8_t g[GIF_GCE_BYTES];
            if (!RdBytes_(r, g, sizeof g)) return false;
            ByteCursor c = BytesCursor(g, sizeof g);
            h.GCEFlags = BytesReadU8(c);
            h.Delay = BytesReadLE16(c);
            h.Transp = BytesReadU8(c);
        } else if (!RdSkip_(r, len)) {
            return false;
        }
    }
}

// Walks the blocks from the reader's position to the next image descriptor: extensions are
// skipped by their sub-block lengths, and only a graphic control extension standing before
// this descriptor counts. False at the trailer or the end of the file; a byte that starts no
// block ends the search too, or raises "Image header invalid." when strict.
static bool GIFGetImgHdr_(GIFRd_& r, GIFHdr_& h, bool strict)
{
    TRACE("FF_GIF.GIFGetImgHdr_");
    h = GIFHdr_{};
    h.Pos = RdPos_(r);
    for (;;) {
        const int b = RdByte_(r);
        if (b < 0 || b == GIF_TRAILER) return false;
        if (b == GIF_IMAGE_DESCRIPTOR) {
            GIFReadDescriptor_(r, h);
            return true;
        }
        if (b == GIF_EXTENSION) {
            if (!GIFReadExtension_(r, h)) return false;
            continue;
        }
        if (b == 0) continue;  // stray block terminators some encoders leave behind
        if (strict) MonError(EC_IMAGE, IE_HEADER, __LINE__);
        return false;
    }
}

static bool GIFCovers_(const GIFFile& gf, const GIFHdr_& h)
{
    TRACE("FF_GIF.GIFCovers_");
    return (h.Left == 0 || h.Left >= gf.Width) && (h.Top == 0 || h.Top >= gf.Height) && h.Width >= gf.Width &&
           h.Height >= gf.Height;
}

static void GIFConvPal_(const uint8_t* rgb, int count, uint8_t (*pal)[3])
{
    TRACE("FF_GIF.GIFConvPal_");
    for (int i = 0; i < count; ++i) {
        pal[i][0] = rgb[3 * i + 2];
        pal[i][1] = rgb[3 * i + 1];
        pal[i][2] = rgb[3 * i];
    }
}

// Entries of the colour table a descriptor's flags announce.
static int GIFTableEntries_(int flags) { return 1 << ((flags & GIF_TABLE_SIZE_MASK) + 1); }

// ---- open ----

// The screen descriptor and the global colour table; returns where the blocks start.
static int64_t GIFReadScreen_(GIFFile& gf)
{
    TRACE("FF_GIF.GIFReadScreen_");
    uint8_t h[GIF_SCREEN_BYTES];
    int64_t got = 0;
    FReadPart(gf.Handle, h, sizeof h, got);
    if (got < int64_t(sizeof h) || std::memcmp(h, "GIF", 3) != 0 ||
        (std::memcmp(h + 3, "87a", 3) != 0 && std::memcmp(h + 3, "89a", 3) != 0))
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    ByteCursor c = BytesCursor(h, sizeof h);
    BytesSkip(c, 6);
    gf.Width = BytesReadLE16(c);
    gf.Height = BytesReadLE16(c);
    const int flags = BytesReadU8(c);
    const int background = BytesReadU8(c);
    int64_t pos = GIF_SCREEN_BYTES;
    if (flags & GIF_COLOUR_TABLE) {
        const int n = GIFTableEntries_(flags);
        uint8_t t[768];
        FReadPart(gf.Handle, t, 3 * n, got);
        if (got < 3 * n) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        GIFConvPal_(t, n, gf.Pal);
        gf.BkgIndex = background;
        pos += 3 * n;
    }
    return pos;
}

// Locates the first image only.
static bool GIFLocateFirst_(GIFFile& gf, int64_t pos, GIFHdr_& first)
{
    TRACE("FF_GIF.GIFLocateFirst_");
    uint8_t buf[1024];
    GIFRd_ r;
    RdInit_(r, gf.Handle, buf, sizeof buf, pos, gf.FileSize);
    // Position 0 is about to change, so the scanned file's positions no longer hold.
    GIFLast.Valid = false;
    if (!GIFGetImgHdr_(r, first, true)) return false;
    GIFSetPos_(0, first.Pos);
    gf.ImgCount = 1;
    gf.FrameRate = first.Delay != 0 ? 100 / first.Delay : 0;
    return true;
}

// Passes over an image's local colour table and data sub-blocks; false when the file ends inside them.
static bool GIFSkipImage_(GIFRd_& r, const GIFHdr_& hd)
{
    TRACE("FF_GIF.GIFSkipImage_");
    if ((hd.Flags & GIF_COLOUR_TABLE) && !RdSkip_(r, 3ll * GIFTableEntries_(hd.Flags))) return false;
    if (RdByte_(r) < 0) return false;  // minimum code size
    for (;;) {
        const int len = RdByte_(r);
        if (len <= 0) return len == 0;
        if (!RdSkip_(r, len)) return false;
    }
}

// Locates every image of the file.
static bool GIFScanAll_(GIFFile& gf, int64_t pos, GIFHdr_& first)
{
    TRACE("FF_GIF.GIFScanAll_");
    GIFLast.Valid = false;
    // The position blocks are reused, not freed: releasing blocks older than this
    // monitor block inside it would upset the monitor's release marks.
    uint8_t* sbuf = nullptr;
    MemAllocT(&sbuf, GIF_SCAN_BUF, __LINE__, "FF_GIF.GIFOpen.buf");
    GIFRd_ r;
    RdInit_(r, gf.Handle, sbuf, GIF_SCAN_BUF, pos, gf.FileSize);
    int64_t totalDelay = 0;
    GIFHdr_ hd;
    while (gf.ImgCount < GIF_MAX_BLKS * GIF_POS_PER_BLK && GIFGetImgHdr_(r, hd, gf.ImgCount == 0)) {
        if (gf.ImgCount == 0) first = hd;
        GIFSetPos_(gf.ImgCount, hd.Pos);
        const bool ok = GIFSkipImage_(r, hd);
        totalDelay += hd.Delay;
        if (gf.ImgCount > 0 && !GIFCovers_(gf, hd)) gf.Compose = 1;
        gf.ImgCount++;
        if (!ok) break;  // the file ends inside this image's data
    }
    MemFreeT(&sbuf);
    gf.FrameRate = totalDelay != 0 ? gf.ImgCount * 100.0 / static_cast<double>(totalDelay) : 0;
    return gf.ImgCount > 0;
}

// The scan of the same unchanged file, when it is still at hand.
static bool GIFTakeCached_(GIFFile& gf, const std::string& name)
{
    TRACE("FF_GIF.GIFTakeCached_");
    if (!GIFLast.Valid || GIFLast.Name != StrLower(name) || GIFLast.Size != gf.FileSize ||
        GIFLast.Date != GIFFileDate_(name) || !GIFPosBlocksPresent_(GIFLast.Rec.ImgCount))
        return false;
    const int handle = gf.Handle;
    gf = GIFLast.Rec;
    gf.Handle = handle;
    gf.PrevImg = nullptr;
    return true;
}

static void GIFRemember_(const GIFFile& gf, const std::string& name)
{
    TRACE("FF_GIF.GIFRemember_");
    GIFLast.Name = StrLower(name);
    GIFLast.Size = gf.FileSize;
    GIFLast.Date = GIFFileDate_(name);
    GIFLast.Rec = gf;
    GIFLast.Rec.Handle = Undef;
    GIFLast.Valid = true;
}

void GIFOpen(GIFFile& gf, const std::string& name, int selector)
{
    TRACE("FF_GIF.GIFOpen");
    MonBlock([&] {
        gf = GIFFile{};
        FFOpenRead(gf.Handle, name);
        gf.FileSize = FSize(gf.Handle);
        const int64_t pos = GIFReadScreen_(gf);
        GIFHdr_ first;
        bool found;
        if (selector != 0) {
            found = GIFLocateFirst_(gf, pos, first);
        } else {
            if (GIFTakeCached_(gf, name)) return;
            found = GIFScanAll_(gf, pos, first);
        }
        // A zero screen takes its size from the first image.
        if (found && (gf.Width == 0 || gf.Height == 0)) {
            gf.Width = std::min(first.Left + first.Width, 65535);
            gf.Height = std::min(first.Top + first.Height, 65535);
        }
        // Refuse screens whose picture could not be allocated before anything is allocated for it.
        if (found && !ImgSizeOK(gf.Width, gf.Height, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        if (selector == 0) GIFRemember_(gf, name);
    });
}

// ---- compressed data ----

// buf holds n bytes read from the start of an image's data (minimum code size, then sub-blocks).
// Follows the sub-block chain, reading on from the file when the data are longer than what was
// read, then joins the sub-blocks in place. Returns the bytes kept: the code size and the codes.
static int64_t GIFGetNewCmpsData_(int handle, uint8_t*& buf, int64_t n, int64_t remain)
{
    TRACE("FF_GIF.GIFGetNewCmpsData_");
    int64_t total = n;
    int64_t p = 1;
    for (;;) {
        if (p >= total) {
            if (total >= remain || total >= GIF_MAX_CMPS) break;
            const int64_t want = std::min(std::max<int64_t>(p + 1 - total, 65536), remain - total);
            MemAllocT(&buf, total + want + 16, __LINE__, "FF_GIF.GIFCmpsBuf");
            int64_t got = 0;
            FReadPart(handle, buf + total, want, got);
            if (got <= 0) break;
            total += got;
            continue;
        }
        const int len = buf[p];
        if (len == 0) break;
        p += 1 + len;
    }
    int64_t src = 1, dst = 1;
    while (src < total) {
        const int len = buf[src++];
        if (len == 0) break;
        const int64_t k = std::min<int64_t>(len, total - src);
        std::memmove(buf + dst, buf + src, k);
        dst += k;
        src += k;
    }
    return dst;
}

// Tops up the bit buffer to at least need bits (eight bytes at a time while they last).
// The last bytes of the compressed data, one at a time; false when they run out.
static bool GIFRefillTail_(const uint8_t*& p, const uint8_t* e, uint64_t& bits, int& nb, int need)
{
    while (nb < need && p < e) {
        bits |= static_cast<uint64_t>(*p++) << nb;
        nb += 8;
    }
    return nb >= need;
}

// Writes the string of code (n bytes) backwards from its end along the prefix chain, as
// far as room allows. False when it did not fit: the picture is full.
static inline bool GIFPutString_(int code, int n, const uint16_t* prefix, const uint8_t* suffix, int firstFree,
                                 uint8_t* o, int64_t room)
{
    if (n <= room) {
        uint8_t* q = o + n - 1;
        while (code >= firstFree) {
            *q-- = suffix[code];
            code = prefix[code];
        }
        *q = static_cast<uint8_t>(code);
        return true;
    }
    for (int64_t i = n - 1; code >= firstFree; --i) {
        if (i < room) o[i] = suffix[code];
        code = prefix[code];
    }
    o[0] = static_cast<uint8_t>(code);
    return false;
}

// LZW decoding with flat tables of 4096 codes. A string is written backwards from its end
// (its length is known), so neither a stack nor recursion is needed. data[0] is the minimum
// code size, data[1..len) the joined code bytes. False on a code the table cannot explain.
static bool GIFDecode_(const uint8_t* data, int64_t len, uint8_t* out, int64_t outLen)
{
    TRACE("FF_GIF.GIFDecode_");
    if (outLen <= 0) return true;
    if (len < 1) return false;
    const int m = data[0];
    if (m < 1 || m > 8) return false;

    uint16_t prefix[GIF_CODES];
    uint8_t suffix[GIF_CODES];
    uint16_t length[GIF_CODES];
    const int clear = 1 << m, endCode = clear + 1, firstFree = clear + 2;
    for (int c = 0; c < clear; ++c) {
        prefix[c] = 0;
        suffix[c] = static_cast<uint8_t>(c);
        length[c] = 1;
    }
    int size = m + 1, mask = (1 << size) - 1, next = firstFree, prev = -1;
    const uint8_t* p = data + 1;
    const uint8_t* const e = data + len;
    uint64_t bits = 0;
    int nb = 0;
    uint8_t* o = out;
    uint8_t* const oe = out + outLen;

    while (o < oe) {
        if (nb < size) {
            if (e - p >= 8) {
                uint64_t v;
                std::memcpy(&v, p, 8);
                if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
                bits |= v << nb;
                p += (63 - nb) >> 3;
                nb |= 56;
            } else if (!GIFRefillTail_(p, e, bits, nb, size)) {
                break;  // end of the compressed data
            }
        }
        const int code = static_cast<int>(bits & static_cast<uint64_t>(mask));
        bits >>= size;
        nb -= size;
        if (code == clear) {
            size = m + 1;
            mask = (1 << size) - 1;
            next = firstFree;
            prev = -1;
            continue;
        }
        if (code == endCode) break;
        if (prev < 0) {
            if (code >= clear) return false;
            *o++ = static_cast<uint8_t>(code);
            prev = code;
            continue;
        }
        uint8_t* const start = o;
        const int64_t room = oe - o;
        if (code < next) {
            const int n = length[code];
            if (!GIFPutString_(code, n, prefix, suffix, firstFree, o, room)) break;
            o += n;
        } else if (code == next) {
            // The previous string, just written, followed by its own first byte.
            const int n = length[prev];
            if (n + 1 > room) {
                std::memcpy(o, o - n, static_cast<size_t>(std::min<int64_t>(n, room)));
                break;
            }
            std::memcpy(o, o - n, n);
            o[n] = o[0];
            o += n + 1;
        } else {
            return false;
        }
        if (next < GIF_CODES) {
            prefix[next] = static_cast<uint16_t>(prev);
            suffix[next] = *start;
            length[next] = static_cast<uint16_t>(length[prev] + 1);
            ++next;
            if (next > mask && size < GIF_MAX_CODE_SIZE) {
                ++size;
                mask = (1 << size) - 1;
            }
        }
        prev = code;
    }
    return true;
}

// ---- window operations (8-bit buffers, clipped to the buffer) ----

static void FillWin_(uint8_t* buf, int bw, int bh, int x, int y, int w, int h, uint8_t value)
{
    TRACE("FF_GIF.FillWin_");
    const int x1 = std::min(x + w, bw), y1 = std::min(y + h, bh);
    for (int yy = std::max(y, 0); yy < y1; ++yy)
        if (x1 > x) std::memset(buf + int64_t(yy) * bw + std::max(x, 0), value, x1 - std::max(x, 0));
}

// Copies a packed sw x sh rectangle into the buffer at (x, y); pixels equal to transp (when
// it is 0..255) are skipped.
static void InsertWin_(uint8_t* buf, int bw, int bh, const uint8_t* src, int sw, int sh, int x, int y, int transp)
{
    TRACE("FF_GIF.InsertWin_");
    if (x >= bw || y >= bh || x < 0 || y < 0) return;
    const int cw = std::min(sw, bw - x), ch = std::min(sh, bh - y);
    for (int r = 0; r < ch; ++r) {
        uint8_t* d = buf + int64_t(y + r) * bw + x;
        const uint8_t* s = src + int64_t(r) * sw;
        if (transp < 0) {
            std::memcpy(d, s, cw);
        } else {
            for (int i = 0; i < cw; ++i)
                if (s[i] != transp) d[i] = s[i];
        }
    }
}

// Copies a rectangle that lies inside the buffer into a packed one.
static void ExtractWin_(const uint8_t* buf, int bw, int x, int y, int w, int h, uint8_t* dst)
{
    TRACE("FF_GIF.ExtractWin_");
    for (int r = 0; r < h; ++r) std::memcpy(dst + int64_t(r) * w, buf + int64_t(y + r) * bw + x, w);
}

// The most pixels clen bytes of codes (data[0] the minimum code size) can spell. Codes are at
// least m + 1 bits wide, and every code adds at most one table entry, so the i-th code after a
// clear spells at most i + 1 pixels and none more than the table holds.
static int64_t GIFMaxPixels_(const uint8_t* data, int64_t clen)
{
    TRACE("FF_GIF.GIFMaxPixels_");
    if (clen <= 1 || data[0] < 1 || data[0] > 8) return 0;
    const int64_t codes = (clen - 1) * 8 / (data[0] + 1);
    const int64_t ramp = std::min<int64_t>(codes, GIF_CODES);
    return ramp * (ramp + 3) / 2 + (codes - ramp) * GIF_CODES;
}

// ---- loading ----

// Undoes the previous image as its disposal method asks.
static void GIFDisposePrevious_(GIFFile& gf, uint8_t* pic)
{
    TRACE("FF_GIF.GIFDisposePrevious_");
    if (gf.PrevDisposal == GIF_DISPOSE_BACKGROUND) {
        FillWin_(pic, gf.Width, gf.Height, gf.PrevLeft, gf.PrevTop, gf.PrevWidth, gf.PrevHeight,
                 static_cast<uint8_t>(gf.BkgIndex < 0 ? 0 : gf.BkgIndex));
    } else if (gf.PrevDisposal == GIF_DISPOSE_PREVIOUS && MemIsRegistered(reinterpret_cast<void* const*>(&gf.PrevImg))) {
        InsertWin_(pic, gf.Width, gf.Height, gf.PrevImg, gf.PrevWidth, gf.PrevHeight, gf.PrevLeft, gf.PrevTop, -1);
    }
}

// The image's own colour table, or the global one (whose background fills the first picture).
static void GIFTakePalette_(GIFFile& gf, GIFRd_& r, const GIFHdr_& hd, Image& image)
{
    TRACE("FF_GIF.GIFTakePalette_");
    if (hd.Flags & GIF_COLOUR_TABLE) {
        const int n = GIFTableEntries_(hd.Flags);
        uint8_t t[768];
        if (!RdBytes_(r, t, 3 * n)) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        std::memset(image.Pal, 0, sizeof image.Pal);
        GIFConvPal_(t, n, image.Pal);
        gf.PalState1 = gf.PalState2 = -1;
    } else {
        std::memcpy(image.Pal, gf.Pal, sizeof image.Pal);
        if (gf.NextImg == 0 && gf.BkgIndex >= 0) std::memset(image.Data, gf.BkgIndex, static_cast<size_t>(image.Size));
    }
}

// Remembers how to undo this image before it is drawn.
static void GIFKeepForDisposal_(GIFFile& gf, const GIFHdr_& hd, const uint8_t* pic)
{
    TRACE("FF_GIF.GIFKeepForDisposal_");
    const int disposal = (hd.GCEFlags >> GIF_GCE_DISPOSAL_SHIFT) & GIF_GCE_DISPOSAL_MASK;
    gf.PrevDisposal = disposal;
    if (disposal == GIF_DISPOSE_BACKGROUND || disposal == GIF_DISPOSE_PREVIOUS) {
        gf.PrevLeft = std::min(hd.Left, gf.Width);
        gf.PrevTop = std::min(hd.Top, gf.Height);
        gf.PrevWidth = std::min(hd.Width, gf.Width - gf.PrevLeft);
        gf.PrevHeight = std::min(hd.Height, gf.Height - gf.PrevTop);
    }
    if (disposal == GIF_DISPOSE_PREVIOUS) {
        // Resized in place (a block from an earlier call is never freed inside this one).
        const int64_t area = int64_t(gf.PrevWidth) * gf.PrevHeight;
        if (area > 0) {
            MemAllocT(&gf.PrevImg, area, __LINE__, "FF_GIF.PrevImg");
            ExtractWin_(pic, gf.Width, gf.PrevLeft, gf.PrevTop, gf.PrevWidth, gf.PrevHeight, gf.PrevImg);
        }
    }
}

// Reads the image's compressed data in one read of the estimated length (up to the next
// image, or 1.5 bytes a pixel for a single image) and joins its sub-blocks. Returns the
// kept length; cmp is the caller's to free.
static int64_t GIFReadCmpsData_(GIFFile& gf, int64_t dataPos, const GIFHdr_& hd, uint8_t*& cmp)
{
    TRACE("FF_GIF.GIFReadCmpsData_");
    const int64_t remain = gf.FileSize - dataPos;
    int64_t est;
    if (gf.NextImg + 1 < gf.ImgCount)
        est = GIFGetPos_(gf.NextImg + 1) - dataPos;
    else if (gf.ImgCount > 1)
        est = remain;
    else
        est = int64_t(hd.Width) * hd.Height * 3 / 2;
    est = std::max<int64_t>(std::min(est, remain), std::min<int64_t>(remain, 2));
    if (est <= 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
    MemAllocT(&cmp, est + 16, __LINE__, "FF_GIF.GIFCmpsBuf");
    FSeek(gf.Handle, dataPos);
    int64_t got = 0;
    FReadPart(gf.Handle, cmp, est, got);
    if (got <= 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
    return GIFGetNewCmpsData_(gf.Handle, cmp, got, remain);
}

// Decodes the image and places it in its window; an image exactly the screen's size goes
// straight into the picture.
static void GIFDrawImage_(const GIFFile& gf, const GIFHdr_& hd, const uint8_t* cmp, int64_t clen, uint8_t* pic)
{
    TRACE("FF_GIF.GIFDrawImage_");
    const int W = gf.Width, H = gf.Height, iw = hd.Width, ih = hd.Height;
    const bool interlaced = (hd.Flags & GIF_INTERLACED) != 0;
    const int transp = ((hd.GCEFlags & GIF_GCE_TRANSPARENT) != 0 || hd.Transp != 0) ? hd.Transp : -1;
    const bool exact = hd.Left == 0 && hd.Top == 0 && iw == W && ih == H;
    if (exact && !interlaced) {
        if (!GIFDecode_(cmp, clen, pic, int64_t(iw) * ih)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
        return;
    }
    // Only the rows the data can reach are decoded into a buffer (one row more than the data
    // can fill, so the decoder still sees the whole stream); the others are zero. A few bytes
    // declaring a huge window so never cost a huge buffer.
    const int64_t reach = std::min<int64_t>(GIFMaxPixels_(cmp, clen) / iw + 1, ih);
    uint8_t* tmp = nullptr;
    MemAllocT(&tmp, int64_t(iw) * reach, __LINE__, "FF_GIF.GIFLoadNext.ih_temp");
    std::memset(tmp, 0, size_t(iw) * size_t(reach));
    if (!GIFDecode_(cmp, clen, tmp, int64_t(iw) * reach)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
    std::vector<uint8_t> zero(size_t(iw), 0);
    // Decoded row j lands on window row y (the passes of an interlaced image reorder them).
    auto place = [&](int64_t j, int y) {
        const uint8_t* row = j < reach ? tmp + j * iw : zero.data();
        if (exact) std::memcpy(pic + int64_t(y) * W, row, size_t(iw));
        else InsertWin_(pic, W, H, row, iw, 1, hd.Left, hd.Top + y, transp);
    };
    if (interlaced) {
        int64_t j = 0;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = GIF_PASS_START[pass]; y < ih; y += GIF_PASS_STEP[pass]) place(j++, y);
    } else {
        for (int y = 0; y < ih; ++y) place(y, y);
    }
    MemFreeT(&tmp);
}

void GIFLoadNext(GIFFile& gf, Image& image)
{
    TRACE("FF_GIF.GIFLoadNext");
    MonBlock([&] {
        if (gf.NextImg >= gf.ImgCount) MonError(EC_MOVIE, MVE_END, __LINE__);
        const int W = gf.Width, H = gf.Height;
        if (!ImgSizeOK(W, H, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        const bool kept = MemIsRegistered(reinterpret_cast<void* const*>(&image.Data)) && image.Width == W &&
                          image.Height == H && image.Bpp == 8;
        ImgAllocNamed(image, W, H, "FF_GIF.GIFLoadNext.image", __LINE__, 8);
        uint8_t* pic = image.Data;
        // A new picture, or the first of a file, starts from index 0 rather than leftovers.
        if (!kept || gf.NextImg == 0) std::memset(pic, 0, static_cast<size_t>(image.Size));
        GIFDisposePrevious_(gf, pic);

        uint8_t hbuf[1024];
        GIFRd_ r;
        RdInit_(r, gf.Handle, hbuf, sizeof hbuf, GIFGetPos_(gf.NextImg), gf.FileSize);
        GIFHdr_ hd;
        if (!GIFGetImgHdr_(r, hd, true)) MonError(EC_IMAGE, IE_HEADER, __LINE__);
        const bool empty = hd.Width == 0 || hd.Height == 0;
        if (!empty && !ImgSizeOK(hd.Width, hd.Height, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        GIFTakePalette_(gf, r, hd, image);
        GIFKeepForDisposal_(gf, hd, pic);

        uint8_t* cmp = nullptr;
        const int64_t clen = GIFReadCmpsData_(gf, RdPos_(r), hd, cmp);
        if (!empty) GIFDrawImage_(gf, hd, cmp, clen, pic);
        MemFreeT(&cmp);
        gf.NextImg++;
    });
}

void GIFClose(GIFFile& gf)
{
    TRACE("FF_GIF.GIFClose");
    MemFreeT(&gf.PrevImg);
    gf.PrevImg = nullptr;
    if (gf.Handle != Undef) FClose(gf.Handle);
    gf.Handle = Undef;
}
