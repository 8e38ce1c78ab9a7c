// GIF reader: screen header, image location (walking the blocks), LZW decoding and the
// composition of every image onto the screen-sized picture.
#include "formats/FF_GIF.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <bit>
#include <filesystem>
#include <vector>

#include "base/Mon.h"

namespace {

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
        if (b < 0 || b == 0x3B) return false;
        if (b == 0x2C) {
            uint8_t d[9];
            if (!RdBytes_(r, d, 9)) MonError(EC_IMAGE, IE_HEADER, __LINE__);
            h.Left = d[0] | d[1] << 8;
            h.Top = d[2] | d[3] << 8;
            h.Width = d[4] | d[5] << 8;
            h.Height = d[6] | d[7] << 8;
            h.Flags = d[8];
            return true;
        }
        if (b == 0x21) {
            const int label = RdByte_(r);
            if (label < 0) return false;
            bool first = true;
            for (;;) {
                const int len = RdByte_(r);
                if (len < 0) return false;
                if (len == 0) break;
                if (label == 0xF9 && first && len == 4) {
                    uint8_t g[4];
                    if (!RdBytes_(r, g, 4)) return false;
                    h.GCEFlags = g[0];
                    h.Delay = g[1] | g[2] << 8;
                    h.Transp = g[3];
                } else if (!RdSkip_(r, len)) {
                    return false;
                }
                first = false;
            }
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

// ---- open ----

void GIFOpen(GIFFile& gf, const std::string& name, int selector)
{
    TRACE("FF_GIF.GIFOpen");
    MonBlock([&] {
        gf = GIFFile{};
        FOpen(gf.Handle, name, FM_READ);
        gf.FileSize = FSize(gf.Handle);
        uint8_t h[13];
        int64_t got = 0;
        FReadPart(gf.Handle, h, 13, got);
        if (got < 13 || std::memcmp(h, "GIF", 3) != 0 ||
            (std::memcmp(h + 3, "87a", 3) != 0 && std::memcmp(h + 3, "89a", 3) != 0))
            MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
        gf.Width = h[6] | h[7] << 8;
        gf.Height = h[8] | h[9] << 8;
        int64_t pos = 13;
        if (h[10] & 0x80) {
            const int n = 1 << ((h[10] & 7) + 1);
            uint8_t t[768];
            FReadPart(gf.Handle, t, 3 * n, got);
            if (got < 3 * n) MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
            GIFConvPal_(t, n, gf.Pal);
            gf.BkgIndex = h[11];
            pos += 3 * n;
        }

        GIFHdr_ first;
        bool found = false;
        if (selector != 0) {
            uint8_t buf[1024];
            GIFRd_ r;
            RdInit_(r, gf.Handle, buf, sizeof buf, pos, gf.FileSize);
            // Position 0 is about to change, so the scanned file's positions no longer hold.
            GIFLast.Valid = false;
            found = GIFGetImgHdr_(r, first, true);
            if (found) {
                GIFSetPos_(0, first.Pos);
                gf.ImgCount = 1;
                gf.FrameRate = first.Delay != 0 ? 100 / first.Delay : 0;
            }
        } else {
            std::string lname = name;
            std::transform(lname.begin(), lname.end(), lname.begin(), [](unsigned char c) { return std::tolower(c); });
            const int64_t date = GIFFileDate_(name);
            if (GIFLast.Valid && GIFLast.Name == lname && GIFLast.Size == gf.FileSize && GIFLast.Date == date &&
                GIFPosBlocksPresent_(GIFLast.Rec.ImgCount)) {
                const int handle = gf.Handle;
                gf = GIFLast.Rec;
                gf.Handle = handle;
                gf.PrevImg = nullptr;
                return;
            }
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
                bool ok = true;
                if (hd.Flags & 0x80) ok = RdSkip_(r, 3ll << ((hd.Flags & 7) + 1));
                if (ok) ok = RdByte_(r) >= 0;  // minimum code size
                while (ok) {
                    const int len = RdByte_(r);
                    if (len <= 0) {
                        ok = len == 0;
                        break;
                    }
                    ok = RdSkip_(r, len);
                }
                totalDelay += hd.Delay;
                if (gf.ImgCount > 0 && !GIFCovers_(gf, hd)) gf.Compose = 1;
                gf.ImgCount++;
                if (!ok) break;  // the file ends inside this image's data
            }
            found = gf.ImgCount > 0;
            MemFreeT(&sbuf);
            gf.FrameRate = totalDelay != 0 ? gf.ImgCount * 100.0 / static_cast<double>(totalDelay) : 0;
        }
        // A zero screen takes its size from the first image.
        if (found && (gf.Width == 0 || gf.Height == 0)) {
            gf.Width = std::min(first.Left + first.Width, 65535);
            gf.Height = std::min(first.Top + first.Height, 65535);
        }
        // Refuse screens whose picture could not be allocated before anything is allocated for it.
        if (found && !ImgSizeOK(gf.Width, gf.Height, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        if (selector == 0) {
            GIFLast.Name = name;
            std::transform(GIFLast.Name.begin(), GIFLast.Name.end(), GIFLast.Name.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            GIFLast.Size = gf.FileSize;
            GIFLast.Date = GIFFileDate_(name);
            GIFLast.Rec = gf;
            GIFLast.Rec.Handle = Undef;
            GIFLast.Valid = true;
        }
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

// LZW decoding with flat tables of 4096 codes. A string is written backwards from its end
// along the prefix chain (its length is known), so neither a stack nor recursion is needed.
// data[0] is the minimum code size, data[1..len) the joined code bytes. False on a code the
// table cannot explain.
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
            } else {
                while (nb < size && p < e) {
                    bits |= static_cast<uint64_t>(*p++) << nb;
                    nb += 8;
                }
                if (nb < size) break;  // end of the compressed data
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
            if (n <= room) {
                uint8_t* q = o + n - 1;
                int c = code;
                while (c >= firstFree) {
                    *q-- = suffix[c];
                    c = prefix[c];
                }
                *q = static_cast<uint8_t>(c);
                o += n;
            } else {
                int64_t i = n - 1;
                int c = code;
                while (c >= firstFree) {
                    if (i < room) o[i] = suffix[c];
                    --i;
                    c = prefix[c];
                }
                o[0] = static_cast<uint8_t>(c);
                break;  // picture full
            }
        } else if (code == next) {
            // The previous string, just written, followed by its own first byte.
            const int n = length[prev];
            if (n + 1 <= room) {
                std::memcpy(o, o - n, n);
                o[n] = o[0];
                o += n + 1;
            } else {
                std::memcpy(o, o - n, static_cast<size_t>(std::min<int64_t>(n, room)));
                break;
            }
        } else {
            return false;
        }
        if (next < GIF_CODES) {
            prefix[next] = static_cast<uint16_t>(prev);
            suffix[next] = *start;
            length[next] = static_cast<uint16_t>(length[prev] + 1);
            ++next;
            if (next > mask && size < 12) {
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

void GIFLoadNext(GIFFile& gf, Image& image)
{
    TRACE("FF_GIF.GIFLoadNext");
    MonBlock([&] {
        if (gf.NextImg >= gf.ImgCount) MonError(EC_MOVIE, 7, __LINE__);
        const int W = gf.Width, H = gf.Height;
        if (!ImgSizeOK(W, H, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        const bool kept = MemIsRegistered(reinterpret_cast<void* const*>(&image.Data)) && image.Width == W &&
                          image.Height == H && image.Bpp == 8;
        _imgalloc_(image, W, H, "FF_GIF.GIFLoadNext.image", __LINE__, 8);
        uint8_t* pic = image.Data;
        // A new picture, or the first of a file, starts from index 0 rather than leftovers.
        if (!kept || gf.NextImg == 0) std::memset(pic, 0, static_cast<size_t>(image.Size));

        // Dispose of the previous image.
        if (gf.PrevDisposal == 2) {
            FillWin_(pic, W, H, gf.PrevLeft, gf.PrevTop, gf.PrevWidth, gf.PrevHeight,
                     static_cast<uint8_t>(gf.BkgIndex < 0 ? 0 : gf.BkgIndex));
        } else if (gf.PrevDisposal == 3 && MemIsRegistered(reinterpret_cast<void* const*>(&gf.PrevImg))) {
            InsertWin_(pic, W, H, gf.PrevImg, gf.PrevWidth, gf.PrevHeight, gf.PrevLeft, gf.PrevTop, -1);
        }

        uint8_t hbuf[1024];
        GIFRd_ r;
        RdInit_(r, gf.Handle, hbuf, sizeof hbuf, GIFGetPos_(gf.NextImg), gf.FileSize);
        GIFHdr_ hd;
        if (!GIFGetImgHdr_(r, hd, true)) MonError(EC_IMAGE, IE_HEADER, __LINE__);
        const bool interlaced = (hd.Flags & 0x40) != 0;
        const int transp = ((hd.GCEFlags & 1) != 0 || hd.Transp != 0) ? hd.Transp : -1;
        const int iw = hd.Width, ih = hd.Height;
        const bool empty = iw == 0 || ih == 0;
        if (!empty && !ImgSizeOK(iw, ih, 8)) MonError(EC_IMAGE, IE_NOT_SUPPORTED, __LINE__);
        // Only an image that is exactly the screen is decoded straight into the picture.
        const bool exact = hd.Left == 0 && hd.Top == 0 && iw == W && ih == H;

        if (hd.Flags & 0x80) {
            const int n = 1 << ((hd.Flags & 7) + 1);
            uint8_t t[768];
            if (!RdBytes_(r, t, 3 * n)) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
            std::memset(image.Pal, 0, sizeof image.Pal);
            GIFConvPal_(t, n, image.Pal);
            gf.PalState1 = gf.PalState2 = -1;
        } else {
            std::memcpy(image.Pal, gf.Pal, sizeof image.Pal);
            if (gf.NextImg == 0 && gf.BkgIndex >= 0) std::memset(pic, gf.BkgIndex, static_cast<size_t>(image.Size));
        }

        // Remember how to undo this image before drawing it.
        const int disposal = (hd.GCEFlags >> 2) & 7;
        gf.PrevDisposal = disposal;
        if (disposal == 2 || disposal == 3) {
            gf.PrevLeft = std::min(hd.Left, W);
            gf.PrevTop = std::min(hd.Top, H);
            gf.PrevWidth = std::min(iw, W - gf.PrevLeft);
            gf.PrevHeight = std::min(ih, H - gf.PrevTop);
        }
        if (disposal == 3) {
            // Resized in place (a block from an earlier call is never freed inside this one).
            const int64_t area = int64_t(gf.PrevWidth) * gf.PrevHeight;
            if (area > 0) {
                MemAllocT(&gf.PrevImg, area, __LINE__, "FF_GIF.PrevImg");
                ExtractWin_(pic, W, gf.PrevLeft, gf.PrevTop, gf.PrevWidth, gf.PrevHeight, gf.PrevImg);
            }
        }

        const int64_t dataPos = RdPos_(r);
        const int64_t remain = gf.FileSize - dataPos;
        int64_t est;
        if (gf.NextImg + 1 < gf.ImgCount)
            est = GIFGetPos_(gf.NextImg + 1) - dataPos;
        else if (gf.ImgCount > 1)
            est = remain;
        else
            est = int64_t(iw) * ih * 3 / 2;
        est = std::max<int64_t>(std::min(est, remain), std::min<int64_t>(remain, 2));
        if (est <= 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        uint8_t* cmp = nullptr;
        MemAllocT(&cmp, est + 16, __LINE__, "FF_GIF.GIFCmpsBuf");
        FSeek(gf.Handle, dataPos);
        int64_t got = 0;
        FReadPart(gf.Handle, cmp, est, got);
        if (got <= 0) MonError(EC_IMAGE, IE_CORRUPTED, __LINE__);
        const int64_t clen = GIFGetNewCmpsData_(gf.Handle, cmp, got, remain);

        if (!empty) {
            uint8_t* tmp = nullptr;
            if (exact && !interlaced) {
                if (!GIFDecode_(cmp, clen, pic, int64_t(iw) * ih)) MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__);
            } else {
                // Only the rows the data can reach are decoded into a buffer (one row more than
                // the data can fill, so the decoder still sees the whole stream); the others are
                // zero. A few bytes declaring a huge window so never cost a huge buffer.
                const int64_t reach = std::min<int64_t>(GIFMaxPixels_(cmp, clen) / iw + 1, ih);
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
                    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
                    int64_t j = 0;
                    for (int pass = 0; pass < 4; ++pass)
                        for (int y = start[pass]; y < ih; y += step[pass]) place(j++, y);
                } else {
                    for (int y = 0; y < ih; ++y) place(y, y);
                }
            }
            MemFreeT(&cmp);
            MemFreeT(&tmp);
        }
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
