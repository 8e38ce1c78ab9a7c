// Hostile sizes: headers that declare pictures, colour maps or records far beyond what the file
// holds or what the program may allocate are refused with the format's own error before any
// pixel memory is taken. Each load runs in a child whose address space is capped (outside the
// address sanitizer, which needs its own huge reservations), so an allocation attempt shows up
// as a memory error or a killed child instead of passing silently on an overcommitting system.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"
#include "formats/FF_GIF.h"
#include "image/ImgBasic.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "support/TempEnv.h"

#if defined(__SANITIZE_ADDRESS__)
#define KVS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVS_ASAN 1
#endif
#endif

namespace {

using Bytes = std::vector<uint8_t>;

void Put16le(Bytes& b, uint32_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void Put32le(Bytes& b, uint32_t v) { Put16le(b, v & 0xFFFF); Put16le(b, v >> 16); }
void Put16be(Bytes& b, uint32_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
void Put32be(Bytes& b, uint32_t v) { Put16be(b, v >> 16); Put16be(b, v & 0xFFFF); }
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

void WriteFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PngChunk(Bytes& b, const char* type, const Bytes& data)
{
    Put32be(b, uint32_t(data.size()));
    Bytes td(type, type + 4);
    td.insert(td.end(), data.begin(), data.end());
    b.insert(b.end(), td.begin(), td.end());
    Put32be(b, Crc32(td.data(), td.size()));
}

// How a load in the capped child ended.
struct LoadEnd {
    enum Kind { Refused, Loaded, MemoryError, Died } kind = Died;
    std::string text;
};

LoadEnd LoadCapped(const std::string& path, int32_t format)
{
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
#ifndef KVS_ASAN
        // Room for the program itself and small buffers, far below any picture the headers declare.
        std::ifstream st("/proc/self/status");
        std::string line;
        long vmKb = 0;
        while (std::getline(st, line))
            if (line.rfind("VmSize:", 0) == 0) vmKb = std::stol(line.substr(7));
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = rlim_t(vmKb) * 1024 + 96ull * 1024 * 1024;
        setrlimit(RLIMIT_AS, &lim);
#endif
        char kind = 'L';
        std::string text;
        Image img;
        try {
            ImgLoad(path, img, format);
        } catch (const EMon& e) {
            text = e.what();
            if (text.empty()) text = MonErrorText();
            kind = MonErrorClass() == EC_MEMORY ? 'M' : 'R';
        } catch (...) {
            kind = 'M';
        }
        const std::string msg = std::string(1, kind) + text;
        ssize_t w = write(fds[1], msg.data(), msg.size());
        (void)w;
        _exit(0);
    }
    close(fds[1]);
    std::string msg;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) msg.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    LoadEnd o;
    if (!WIFEXITED(status) || msg.empty()) return o;
    o.kind = msg[0] == 'R' ? LoadEnd::Refused : msg[0] == 'L' ? LoadEnd::Loaded : LoadEnd::MemoryError;
    o.text = msg.substr(1);
    return o;
}

class Hostile : public ::testing::Test {
protected:
    TempEnv env;
    TempDir dir;

    // The load is refused with an error that is not the memory monitor's.
    void ExpectRefused(const Bytes& file, int32_t format, const char* what)
    {
        const std::string path = dir / "hostile.bin";
        WriteFile(path, file);
        const LoadEnd o = LoadCapped(path, format);
        EXPECT_EQ(o.kind, LoadEnd::Refused) << what << ": " << (o.kind == LoadEnd::Loaded ? "loaded"
                                                                : o.kind == LoadEnd::MemoryError ? "memory error " + o.text
                                                                                                  : "child died");
        EXPECT_FALSE(o.text.empty()) << what;
    }
};

Bytes Gif(int screenW, int screenH, int left, int top, int w, int h, uint8_t flags = 0)
{
    Bytes b;
    Append(b, "GIF89a");
    Put16le(b, screenW);
    Put16le(b, screenH);
    b.insert(b.end(), {0x80, 0, 0});  // two-entry global table
    b.insert(b.end(), {0, 0, 0, 255, 255, 255});
    b.push_back(',');
    Put16le(b, left);
    Put16le(b, top);
    Put16le(b, w);
    Put16le(b, h);
    b.push_back(flags);
    b.insert(b.end(), {2, 2, 0x4C, 0x01, 0});  // clear, 0, end
    b.push_back(';');
    return b;
}

TEST_F(Hostile, GifScreensBeyondTheLimitAreRefusedByOpenAndLoad)
{
    ExpectRefused(Gif(65535, 65535, 0, 0, 1, 1), FMT_GIF, "65535 x 65535 screen");
    ExpectRefused(Gif(0, 0, 0, 0, 65535, 65535), FMT_GIF, "screen from a 65535 x 65535 image");
    ExpectRefused(Gif(0, 0, 65535, 65535, 1, 1), FMT_GIF, "screen from an image at 65535, 65535");

    // The frame reader refuses the screen at GIFOpen, before GIFLoadNext could allocate it.
    const std::string path = dir / "big.gif";
    WriteFile(path, Gif(65535, 65535, 0, 0, 1, 1));
    for (int selector : {0, 1}) {
        GIFFile gf;
        EXPECT_THROW(GIFOpen(gf, path, selector), EMon);
        MonClearError();
        GIFClose(gf);
    }
    GIFDone();
}

// A window of 65535 x 4000 with a few bytes of data on a small screen: the reader used to take a
// 262 MB decoding buffer (and one more for an interlaced window) before finding the data short.
TEST_F(Hostile, GifWindowsBeyondTheirDataTakeNoHugeBuffer)
{
    for (uint8_t flags : {uint8_t(0), uint8_t(0x40)}) {
        const std::string path = dir / "window.gif";
        WriteFile(path, Gif(16, 16, 0, 0, 65535, 4000, flags));
        const LoadEnd o = LoadCapped(path, FMT_GIF);
        EXPECT_EQ(o.kind, LoadEnd::Loaded) << "flags " << int(flags) << ": " << o.text;
    }
}

TEST_F(Hostile, PngHeadersWithHugeSizes)
{
    for (uint32_t side : {60000u, 0x7FFFFFFFu}) {
        for (uint8_t colourType : {uint8_t(2), uint8_t(6), uint8_t(3)}) {
            Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
            Bytes ihdr;
            Put32be(ihdr, side);
            Put32be(ihdr, side);
            ihdr.insert(ihdr.end(), {8, colourType, 0, 0, 0});
            PngChunk(b, "IHDR", ihdr);
            if (colourType == 3) PngChunk(b, "PLTE", Bytes(6, 0));
            PngChunk(b, "IDAT", Bytes{0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
            PngChunk(b, "IEND", {});
            ExpectRefused(b, FMT_PNG, ("PNG side " + std::to_string(side)).c_str());
        }
    }
}

Bytes Tiff(uint32_t w, uint32_t h, uint16_t spp, uint32_t rowsPerStrip)
{
    Bytes b;
    Append(b, "II");
    Put16le(b, 42);
    Put32le(b, 8);
    const uint16_t bps = 8;
    struct E { uint16_t tag, type; uint32_t count, value; };
    const uint32_t dataAt = 8 + 2 + 10 * 12 + 4;
    const E es[] = {{256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, bps}, {259, 3, 1, 1},
                    {262, 3, 1, uint32_t(spp == 3 ? 2 : 1)}, {273, 4, 1, dataAt}, {277, 3, 1, spp},
                    {278, 4, 1, rowsPerStrip}, {279, 4, 1, 16}, {284, 3, 1, 1}};
    Put16le(b, uint16_t(std::size(es)));
    for (const E& e : es) {
        Put16le(b, e.tag);
        Put16le(b, e.type);
        Put32le(b, e.count);
        if (e.type == 3) {
            Put16le(b, uint16_t(e.value));
            Put16le(b, 0);
        } else {
            Put32le(b, e.value);
        }
    }
    Put32le(b, 0);
    b.resize(b.size() + 16, 0x80);
    return b;
}

TEST_F(Hostile, TiffHeadersWithHugeSizes)
{
    ExpectRefused(Tiff(100000, 100000, 3, 100000), FMT_TIFF, "TIFF 100000 x 100000 RGB");
    ExpectRefused(Tiff(100000, 100000, 1, 1), FMT_TIFF, "TIFF 100000 x 100000 grey, one row per strip");
    ExpectRefused(Tiff(0xFFFFFFF0u, 2, 3, 1), FMT_TIFF, "TIFF 4G wide");
}

TEST_F(Hostile, ConFormHeadersWithHugeSizes)
{
    // BMP 100000 x 100000 at 24 bits.
    Bytes bmp;
    Append(bmp, "BM");
    Put32le(bmp, 54 + 16);
    Put32le(bmp, 0);
    Put32le(bmp, 54);
    Put32le(bmp, 40);
    Put32le(bmp, 100000);
    Put32le(bmp, 100000);
    Put16le(bmp, 1);
    Put16le(bmp, 24);
    for (int i = 0; i < 6; ++i) Put32le(bmp, 0);
    bmp.resize(bmp.size() + 16, 0);
    ExpectRefused(bmp, FMT_BMP, "BMP 100000 x 100000");
    // Negative height (top-down) of the largest magnitude.
    Bytes bmp2 = bmp;
    const uint32_t minus = 0x80000000u;
    std::memcpy(bmp2.data() + 22, &minus, 4);
    ExpectRefused(bmp2, FMT_BMP, "BMP height -2^31");

    // PCX 65535 x 65535, three planes.
    Bytes pcx(128, 0);
    pcx[0] = 10; pcx[1] = 5; pcx[2] = 1; pcx[3] = 8;
    pcx[8] = 0xFE; pcx[9] = 0xFF; pcx[10] = 0xFE; pcx[11] = 0xFF;  // xmax, ymax 65534
    pcx[65] = 3;
    pcx[66] = 0xFF; pcx[67] = 0xFF;
    pcx.resize(pcx.size() + 64, 0xC1);
    ExpectRefused(pcx, FMT_PCX, "PCX 65535 x 65535");

    // TGA 65535 x 65535 at 32 bits, raw and run-length.
    for (uint8_t type : {uint8_t(2), uint8_t(10)}) {
        Bytes tga(18, 0);
        tga[2] = type;
        tga[12] = tga[13] = tga[14] = tga[15] = 0xFF;
        tga[16] = 32;
        tga.resize(tga.size() + 64, 0x7F);
        ExpectRefused(tga, FMT_TGA, "TGA 65535 x 65535");
    }
    // Colour maps beyond the 256 entries an 8-bit index reaches, held by the file or not.
    for (uint16_t first : {uint16_t(0), uint16_t(200)}) {
        Bytes big(18, 0);
        big[1] = 1; big[2] = 1;
        big[3] = uint8_t(first); big[4] = uint8_t(first >> 8);
        big[5] = uint8_t(300 - first); big[6] = uint8_t((300 - first) >> 8); big[7] = 24;
        big[12] = 16; big[14] = 16; big[16] = 8;
        big.resize(big.size() + 300 * 3 + 256, 1);
        ExpectRefused(big, FMT_TGA, "TGA colour map of 300 entries");
    }
    // A colour map of 65535 entries that the file does not hold.
    Bytes map(18, 0);
    map[1] = 1; map[2] = 1;
    map[5] = 0xFF; map[6] = 0xFF; map[7] = 24;
    map[12] = 16; map[14] = 16; map[16] = 8;
    map.resize(map.size() + 300 * 3 + 256, 1);
    ExpectRefused(map, FMT_TGA, "TGA colour map past the file");
}

TEST_F(Hostile, OtherReadersWithHugeSizes)
{
    Bytes sgi;
    Put16be(sgi, 474);
    sgi.push_back(0); sgi.push_back(1);
    Put16be(sgi, 3);
    Put16be(sgi, 65535); Put16be(sgi, 65535); Put16be(sgi, 3);
    sgi.resize(512 + 64, 0);
    ExpectRefused(sgi, FMT_SGI, "SGI 65535 x 65535 x 3");
    sgi[2] = 1;  // run-length: the offset tables alone would be 65535 * 3 * 8 bytes
    ExpectRefused(sgi, FMT_SGI, "SGI RLE 65535 x 65535 x 3");

    Bytes ras;
    Put32be(ras, 0x59A66A95);
    Put32be(ras, 100000); Put32be(ras, 100000); Put32be(ras, 24);
    Put32be(ras, 0); Put32be(ras, 1); Put32be(ras, 0); Put32be(ras, 0);
    ras.resize(ras.size() + 64, 0);
    ExpectRefused(ras, FMT_RAS, "RAS 100000 x 100000");
    Bytes rasMap = ras;
    rasMap[23] = 1;  // palette type 1 with a map of 4 GB
    rasMap[28] = rasMap[29] = rasMap[30] = 0xFF;
    rasMap[15] = 8; rasMap[6] = 0; rasMap[7] = 16; rasMap[10] = 0; rasMap[11] = 16;
    ExpectRefused(rasMap, FMT_RAS, "RAS colour map of 4 GB");

    Bytes pnm;
    Append(pnm, "P6\n100000 100000\n255\n");
    pnm.resize(pnm.size() + 64, 0);
    ExpectRefused(pnm, FMT_PNM, "PNM 100000 x 100000");
    Bytes pnm2;
    Append(pnm2, "P3\n99999999999999999999 2\n255\n0 0 0\n");
    ExpectRefused(pnm2, FMT_PNM, "PNM width past 64 bits");

    Bytes xpm;
    Append(xpm, "/* XPM */\nstatic char *x[] = {\n\"100000 100000 1 1\",\n\"a c #000000\",\n\"aaaa\"};\n");
    ExpectRefused(xpm, FMT_XPM, "XPM 100000 x 100000");
    Bytes xpm2;
    Append(xpm2, "/* XPM */\nstatic char *x[] = {\n\"4 4 100000000 2\",\n\"aa c #000000\",\n\"aaaa\"};\n");
    ExpectRefused(xpm2, FMT_XPM, "XPM 100 million colours");
}

TEST_F(Hostile, JpegFrameOfTheLargestSize)
{
    Image img;
    ImgAlloc(img, 16, 16, 24);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(i * 7);
    const std::string good = dir / "good.jpg";
    ImgSave(good, img, FMT_JPEG);
    ImgFree(img);
    std::ifstream in(good, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t sof = 0;
    for (size_t i = 2; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC1 || b[i + 1] == 0xC2)) { sof = i; break; }
    ASSERT_NE(sof, 0u) << "no frame header in our own JPEG";
    b[sof + 5] = 0xFF; b[sof + 6] = 0xDC;  // height 65500
    b[sof + 7] = 0xFF; b[sof + 8] = 0xDC;  // width 65500
    ExpectRefused(b, FMT_JPEG, "JPEG 65500 x 65500");
}

// ---- files of the store ----

Bytes GalleryHeader(int32_t count)
{
    Bytes b(GAL_HEADER_SIZE, 0);
    uint32_t v = GAL_HEADER_SIZE;
    std::memcpy(b.data() + GAL_H_SIZE, &v, 4);
    b[GAL_H_MAGIC] = 22;
    std::memcpy(b.data() + GAL_H_MAGIC + 1, GAL_MAGIC, 22);
    v = GAL_VERSION;
    std::memcpy(b.data() + GAL_H_VERSION, &v, 4);
    b[GAL_H_PREFIX] = 3;
    std::memcpy(b.data() + GAL_H_PREFIX + 1, "Hst", 3);
    std::memcpy(b.data() + GAL_H_COUNT, &count, 4);
    return b;
}

Bytes GalleryRecord(int32_t recordSize, int32_t length, const std::string& name)
{
    Bytes r(GAL_RECORD_SIZE, 0);
    std::memcpy(r.data() + GAL_R_SIZE, &recordSize, 4);
    r[GAL_R_NAME] = uint8_t(name.size());
    std::memcpy(r.data() + GAL_R_NAME + 1, name.data(), name.size());
    std::memcpy(r.data() + GAL_R_LENGTH, &length, 4);
    const int32_t pos = 7;
    std::memcpy(r.data() + GAL_R_POSITIONS, &pos, 4);
    return r;
}

TEST_F(Hostile, GalleryRecordsPastTheFileAreRefused)
{
    ScriptedUi ui;
    const std::string store = dir / "store/";
    SetStorageDir(store);
    struct Case { const char* what; Bytes file; int whole = 0; };  // whole: records before the damage
    std::vector<Case> cases;
    {
        Bytes b = GalleryHeader(1);
        Bytes r = GalleryRecord(GAL_RECORD_SIZE, GAL_MAX_DATA - 1, "a.png");
        b.insert(b.end(), r.begin(), r.end());
        b.resize(b.size() + 100, 0x55);
        cases.push_back({"data length past the file", b});
    }
    {
        Bytes b = GalleryHeader(0x7FFFFFFF);
        Bytes r = GalleryRecord(GAL_RECORD_SIZE, 12, "a.png");
        b.insert(b.end(), r.begin(), r.end());
        b.insert(b.end(), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});  // only pictures are unpacked
        b.resize(b.size() + 4, 0x55);
        cases.push_back({"two billion records in one", b, 1});
    }
    {
        Bytes b = GalleryHeader(2);
        Bytes r = GalleryRecord(0x7FFFFFF0, 4, "a.png");
        b.insert(b.end(), r.begin(), r.end());
        b.resize(b.size() + 4, 0x55);
        cases.push_back({"record size past the file", b});
    }
    {
        Bytes b = GalleryHeader(1);
        Bytes r = GalleryRecord(GAL_RECORD_SIZE, -5, "a.png");
        b.insert(b.end(), r.begin(), r.end());
        cases.push_back({"negative length", b});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "hostile.gal";
        WriteFile(path, c.file);
        std::error_code ec;
        std::filesystem::remove_all(store, ec);
        StoreFree();
        const int blocks = MemCount(), files = FileCount();
        ui.log.clear();
        const Outcome o = GalleryRead(path);
        EXPECT_FALSE(OutcomeOk(o));
        EXPECT_EQ(o.Errors.size(), 1u);
        EXPECT_EQ(MemCount(), blocks);
        EXPECT_EQ(FileCount(), files);
        // Only the whole records before the damage are unpacked; nothing half-written is left.
        int pngs = 0;
        for (const auto& e : std::filesystem::directory_iterator(store, ec))
            if (e.path().extension() == ".png") {
                ++pngs;
                EXPECT_EQ(std::filesystem::file_size(e.path()), 12u) << e.path();
            }
        EXPECT_EQ(pngs, c.whole);
    }
    StoreFree();
}

TEST_F(Hostile, IndexCountsBeyondTheFileAreCut)
{
    Bytes b;
    Put32le(b, IMAGE_INDEX_HEADER);
    Put32le(b, IMAGE_INDEX_VERSION);
    Put32le(b, 0x7FFFFFFF);
    Bytes e(IMAGE_ENTRY_SIZE, 0);
    const uint32_t rs = IMAGE_ENTRY_SIZE;
    std::memcpy(e.data(), &rs, 4);
    e[4] = 5;
    std::memcpy(e.data() + 5, "a.png", 5);
    b.insert(b.end(), e.begin(), e.end());
    b.resize(b.size() + IMAGE_ENTRY_SIZE / 2, 0);
    const std::string path = dir / IMAGE_INDEX_FILE;
    WriteFile(path, b);
    ImageList* list = ImageListCreate();
    ReadImageIndex(list, path);
    ASSERT_EQ(ImageListCount(list), 1);
    EXPECT_EQ(EntryName(*ImageListGet(list, 0)), "a.png");
    ImageListFree(list);
}

}  // namespace

#include "core/Shuffle.h"

namespace {

// Separators that overlap ("\r\n--\r\n--\r\n" holds two that share "\r\n"): every part the count
// promises must exist, or a sequential pick lands on a part GetPart cannot give (an empty message).
TEST(HostileText, MessagePartsCountedAsTheyAreSplit)
{
    struct Case { std::string text, separator; };
    const std::vector<Case> cases = {{"a\r\n--\r\n--\r\nb", MSG_SEPARATOR}, {"\r\n--\r\n--\r\n", MSG_SEPARATOR},
                                     {"K|||||", "||"}, {"aaaa", "aa"}, {"one", MSG_SEPARATOR}};
    for (const Case& c : cases) {
        const int n = CountParts(c.text, c.separator);
        std::string part, joined;
        for (int k = 0; k < n; ++k) {
            ASSERT_TRUE(GetPart(c.text, c.separator, k, part)) << k << " of " << n << " in " << c.text;
            joined += (k ? c.separator : "") + part;
        }
        EXPECT_FALSE(GetPart(c.text, c.separator, n, part));
        EXPECT_EQ(joined, c.text);
    }
    EXPECT_EQ(CountParts("a\r\n--\r\n--\r\nb", MSG_SEPARATOR), 2);
}

}  // namespace
