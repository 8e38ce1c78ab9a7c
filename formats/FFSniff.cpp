// Signatures and orientation metadata.
#include "formats/FFSniff.h"

#include <cstring>
#include <vector>

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/Mon.h"
#include "formats/FFFile.h"
#include "formats/FFFormatIds.h"
#include "image/ImgOrient.h"

namespace {

constexpr int kHead_ = 32;
constexpr int64_t kJpegScan_ = 1 << 20;   // EXIF sits among the first segments
constexpr int kMaxChunks_ = 100000;       // a PNG or WebP walk ends here whatever the file says
constexpr int kMaxIfdEntries_ = 4096;
constexpr uint16_t kTagOrientation_ = 0x0112;

bool Is_(const uint8_t* p, const char* text) { return std::memcmp(p, text, std::strlen(text)) == 0; }

bool HeifBrand_(const uint8_t* b, bool& avif)
{
    static const char* const kHeic[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"};
    if (Is_(b, "avif") || Is_(b, "avis")) {
        avif = true;
        return true;
    }
    for (const char* k : kHeic)
        if (Is_(b, k)) return true;
    return false;
}

// Reads up to count bytes at pos; the bytes read. Never raises.
int64_t ReadAt_(int file, int64_t pos, void* buffer, int64_t count)
{
    int64_t got = 0;
    MonBlockTransparent([&] {
        FSeek(file, pos);
        FReadPart(file, buffer, count, got);
    });
    MonClearError();
    return got;
}

// Runs body on the open file; any failure leaves result as it was.
template <class F> void WithFile_(const std::string& name, F&& body)
{
    int file = Undef;
    MonBlockTransparent([&] {
        FFOpenRead(file, name);
        body(file, FSize(file));
    });
    MonClearError();
    if (file != Undef) MonBlockTransparent([&] { FClose(file); });
    MonClearError();
}

int32_t JpegOrientation_(int file, int64_t size)
{
    std::vector<uint8_t> seg;
    uint8_t m[4];
    for (int64_t pos = 2; pos + 4 <= std::min(size, kJpegScan_);) {
        if (ReadAt_(file, pos, m, 4) != 4 || m[0] != 0xFF) return 1;
        // Fill bytes before a marker.
        if (m[1] == 0xFF) {
            ++pos;
            continue;
        }
        if (m[1] == 0xDA || m[1] == 0xD9) return 1;  // pixel data or the end: no EXIF before it
        const int64_t len = BytesGetBE16(m + 2);
        if (len < 2) return 1;
        if (m[1] == 0xE1 && len >= 8) {
            seg.resize(static_cast<size_t>(len - 2));
            if (ReadAt_(file, pos + 4, seg.data(), len - 2) != len - 2) return 1;
            if (Is_(seg.data(), "Exif")) return FFExifOrientation(seg.data(), len - 2);
        }
        pos += 2 + len;
    }
    return 1;
}

// Chunks of length (big-endian for PNG, little-endian for RIFF), type; returns the data of the
// first chunk of the wanted type, empty when there is none.
std::vector<uint8_t> FindChunk_(int file, int64_t size, int64_t pos, bool png, const char* wanted)
{
    uint8_t h[8];
    for (int n = 0; n < kMaxChunks_ && pos + 8 <= size; ++n) {
        if (ReadAt_(file, pos, h, 8) != 8) break;
        const uint8_t* type = png ? h + 4 : h;
        const int64_t len = png ? BytesGetBE32(h) : BytesGetLE32(h + 4);
        if (png && Is_(type, "IEND")) break;
        if (std::memcmp(type, wanted, 4) == 0) {
            if (len > size - pos - 8 || len > (1 << 24)) break;
            std::vector<uint8_t> data(static_cast<size_t>(len));
            if (ReadAt_(file, pos + 8, data.data(), len) != len) break;
            return data;
        }
        pos += 8 + len + (png ? 4 : (len & 1));
    }
    return {};
}

// The TIFF file's own first directory, copied behind a header that points at it.
int32_t TiffOrientation_(int file, int64_t size)
{
    uint8_t head[8];
    if (ReadAt_(file, 0, head, 8) != 8) return 1;
    const bool le = head[0] == 'I';
    const int64_t ifd = le ? BytesGetLE32(head + 4) : BytesGetBE32(head + 4);
    uint8_t cnt[2];
    if (ifd < 8 || ifd > size - 2 || ReadAt_(file, ifd, cnt, 2) != 2) return 1;
    const int64_t entries = std::min<int64_t>(le ? BytesGetLE16(cnt) : BytesGetBE16(cnt), kMaxIfdEntries_);
    std::vector<uint8_t> block(static_cast<size_t>(10 + entries * 12));
    std::memcpy(block.data(), head, 4);
    if (le) BytesPutLE32(block.data() + 4, 8);
    else BytesPutBE32(block.data() + 4, 8);
    std::memcpy(block.data() + 8, cnt, 2);
    const int64_t got = ReadAt_(file, ifd + 2, block.data() + 10, entries * 12);
    return FFExifOrientation(block.data(), 10 + got);
}

// One ISO box: its type and where its contents lie in the buffer.
struct Box_ {
    char Type[5] = {};
    int64_t Start = 0, End = 0;
};

// The boxes between from and to, in order; stops at the first that does not fit.
std::vector<Box_> Boxes_(const std::vector<uint8_t>& b, int64_t from, int64_t to)
{
    std::vector<Box_> out;
    while (from + 8 <= to && out.size() < 4096) {
        int64_t size = BytesGetBE32(&b[from]), head = 8;
        if (size == 1) {
            if (from + 16 > to) break;
            const uint64_t big = (uint64_t(BytesGetBE32(&b[from + 8])) << 32) | BytesGetBE32(&b[from + 12]);
            if (big > uint64_t(to - from)) break;
            size = static_cast<int64_t>(big), head = 16;
        } else if (size == 0) {
            size = to - from;
        }
        if (size < head || size > to - from) break;
        Box_ x;
        std::memcpy(x.Type, &b[from + 4], 4);
        x.Start = from + head;
        x.End = from + size;
        out.push_back(x);
        from += size;
    }
    return out;
}

const Box_* Find_(const std::vector<Box_>& boxes, const char* type)
{
    for (const Box_& x : boxes)
        if (std::memcmp(x.Type, type, 4) == 0) return &x;
    return nullptr;
}

// The primary item's rotation (anticlockwise quarter turns) and mirror properties in the order
// they apply, turned into the orientation value that shows the same: found by applying them to
// a small picture of distinct pixels and comparing with each orientation.
int32_t HeifOrientation_(int file, int64_t size)
{
    std::vector<uint8_t> b(static_cast<size_t>(std::min<int64_t>(size, 1 << 20)));
    b.resize(static_cast<size_t>(ReadAt_(file, 0, b.data(), static_cast<int64_t>(b.size()))));
    const int64_t n = static_cast<int64_t>(b.size());
    const Box_* meta = Find_(Boxes_(b, 0, n), "meta");
    if (!meta || meta->End - meta->Start < 4) return 1;
    const std::vector<Box_> inMeta = Boxes_(b, meta->Start + 4, meta->End);  // after version and flags
    const Box_* pitm = Find_(inMeta, "pitm");
    const Box_* iprp = Find_(inMeta, "iprp");
    if (!pitm || !iprp || pitm->End - pitm->Start < 6) return 1;
    const uint32_t primary = b[pitm->Start] == 0 ? BytesGetBE16(&b[pitm->Start + 4]) : BytesGetBE32(&b[pitm->Start + 4]);
    const std::vector<Box_> inIprp = Boxes_(b, iprp->Start, iprp->End);
    const Box_* ipco = Find_(inIprp, "ipco");
    if (!ipco) return 1;
    const std::vector<Box_> props = Boxes_(b, ipco->Start, ipco->End);
    // Walk every ipma box: entries of item, count, then count property indices (1-based).
    std::vector<uint32_t> assoc;
    for (const Box_& m : inIprp) {
        if (std::memcmp(m.Type, "ipma", 4) != 0 || m.End - m.Start < 8) continue;
        ByteCursor c = BytesCursor(&b[m.Start], m.End - m.Start);
        const uint8_t version = BytesReadU8(c);
        BytesSkip(c, 2);
        const bool wide = BytesReadU8(c) & 1;
        const uint32_t entries = BytesReadBE32(c);
        for (uint32_t e = 0; e < entries && BytesLeft(c) > 0; ++e) {
            const uint32_t item = version < 1 ? BytesReadBE16(c) : BytesReadBE32(c);
            const int count = BytesReadU8(c);
            for (int k = 0; k < count && BytesLeft(c) > 0; ++k) {
                const uint32_t index = wide ? BytesReadBE16(c) & 0x7FFF : BytesReadU8(c) & 0x7F;
                if (item == primary) assoc.push_back(index);
            }
        }
    }
    // A 3 x 2 picture of pixel numbers, transformed as the properties say.
    int w = 3, h = 2;
    std::vector<uint8_t> px = {0, 1, 2, 3, 4, 5};
    bool any = false;
    for (uint32_t index : assoc) {
        if (index == 0 || index > props.size()) continue;
        const Box_& p = props[index - 1];
        if (p.End <= p.Start) continue;
        const uint8_t v = b[p.Start];
        std::vector<uint8_t> out(px.size());
        if (std::memcmp(p.Type, "irot", 4) == 0) {
            for (int turn = 0; turn < (v & 3); ++turn) {
                for (int y = 0; y < w; ++y)
                    for (int x = 0; x < h; ++x) out[y * h + x] = px[x * w + (w - 1 - y)];
                std::swap(w, h);
                px = out;
            }
        } else if (std::memcmp(p.Type, "imir", 4) == 0) {
            // Axis 0 turns the picture upside down, 1 mirrors it left to right, as libheif applies them.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) out[y * w + x] = (v & 1) ? px[y * w + (w - 1 - x)] : px[(h - 1 - y) * w + x];
            px = out;
        } else {
            continue;
        }
        any = true;
    }
    if (!any) return 1;
    const uint8_t start[6] = {0, 1, 2, 3, 4, 5};
    for (int o = 1; o <= 8; ++o) {
        uint8_t shown[6];
        ImgOrientBytes(start, 3, 2, 1, o, shown);
        if ((ImgOrientSwaps(o) ? 2 : 3) == w && std::memcmp(shown, px.data(), 6) == 0) return o;
    }
    return 1;
}

}  // namespace

int32_t FFSniffHead(const uint8_t* h, int64_t size)
{
    TRACE("FFSniff.FFSniffHead");
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(h, kPng, 8) == 0) return FMT_PNG;
    if (size >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return FMT_JPEG;
    if (size >= 6 && (Is_(h, "GIF87a") || Is_(h, "GIF89a"))) return FMT_GIF;
    if (size >= 12 && Is_(h, "RIFF") && Is_(h + 8, "WEBP")) return FMT_WEBP;
    bool avif = false;
    if (size >= 12 && Is_(h + 4, "ftyp") && HeifBrand_(h + 8, avif)) return avif ? FMT_AVIF : FMT_HEIF;
    if (size >= 4 && (Is_(h, "II*") || (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42))) return FMT_TIFF;
    if (size >= 4 && BytesGetBE32(h) == 0x59A66A95u) return FMT_RAS;
    // "BM" and a known information-header size (OS/2 1.x and 2.x, Windows 3 to 5).
    if (size >= 18 && h[0] == 'B' && h[1] == 'M') {
        const uint32_t hs = BytesGetLE32(h + 14);
        if (hs == 12 || hs == 16 || hs == 40 || hs == 52 || hs == 56 || hs == 64 || hs == 108 || hs == 124) return FMT_BMP;
    }
    if (size >= 9 && Is_(h, "/* XPM */")) return FMT_XPM;
    return Undef;
}

int32_t FFSniffFormat(const std::string& name)
{
    TRACE("FFSniff.FFSniffFormat");
    uint8_t head[kHead_] = {};
    int64_t got = 0;
    WithFile_(name, [&](int file, int64_t) { got = ReadAt_(file, 0, head, sizeof head); });
    return FFSniffHead(head, got);
}

int32_t FFOrientationShown(const std::string& name)
{
    TRACE("FFSniff.FFOrientationShown");
    int32_t orientation = 1;
    WithFile_(name, [&](int file, int64_t size) {
        uint8_t head[kHead_] = {};
        const int32_t format = FFSniffHead(head, ReadAt_(file, 0, head, sizeof head));
        if (format == FMT_HEIF || format == FMT_AVIF) orientation = HeifOrientation_(file, size);
    });
    return orientation != 1 ? orientation : FFOrientation(name);
}

int32_t FFExifOrientation(const uint8_t* data, int64_t size)
{
    TRACE("FFSniff.FFExifOrientation");
    ByteCursor c = BytesCursor(data, size);
    if (size >= 6 && Is_(data, "Exif")) BytesSeek(c, 6);
    const uint8_t* tiff = data + c.Pos;
    const int64_t n = size - c.Pos;
    if (n < 8 || !(Is_(tiff, "II*") || Is_(tiff, "MM"))) return 1;
    const bool le = tiff[0] == 'I';
    auto u16 = [&](int64_t at) { return le ? BytesGetLE16(tiff + at) : BytesGetBE16(tiff + at); };
    const int64_t ifd = le ? BytesGetLE32(tiff + 4) : BytesGetBE32(tiff + 4);
    if (ifd < 8 || ifd > n - 2) return 1;
    const int64_t entries = std::min<int64_t>(u16(ifd), (n - ifd - 2) / 12);
    for (int64_t i = 0; i < entries; ++i) {
        const int64_t e = ifd + 2 + i * 12;
        // A SHORT (type 3) of count 1 keeps its value in the entry's first two value bytes.
        if (u16(e) == kTagOrientation_ && u16(e + 2) == 3) {
            const int v = u16(e + 8);
            return v >= 1 && v <= 8 ? v : 1;
        }
    }
    return 1;
}

int32_t FFOrientation(const std::string& name)
{
    TRACE("FFSniff.FFOrientation");
    int32_t orientation = 1;
    WithFile_(name, [&](int file, int64_t size) {
        uint8_t head[kHead_] = {};
        const int64_t got = ReadAt_(file, 0, head, sizeof head);
        switch (FFSniffHead(head, got)) {
        case FMT_JPEG: orientation = JpegOrientation_(file, size); break;
        case FMT_TIFF: orientation = TiffOrientation_(file, size); break;
        case FMT_PNG: {
            const std::vector<uint8_t> exif = FindChunk_(file, size, 8, true, "eXIf");
            orientation = FFExifOrientation(exif.data(), static_cast<int64_t>(exif.size()));
            break;
        }
        case FMT_WEBP: {
            const std::vector<uint8_t> exif = FindChunk_(file, size, 12, false, "EXIF");
            orientation = FFExifOrientation(exif.data(), static_cast<int64_t>(exif.size()));
            break;
        }
        default: break;
        }
    });
    return orientation;
}
