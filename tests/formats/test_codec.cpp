// The codec library's own contracts: libtiff message routing, the buffer guard of
// read_JPEG_file, the two-step ReadXpm and the writers' clean failure.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <filesystem>

#include "ReaderTestUtil.h"
#include "formats/FF_JPG.h"
#include "platform/ExternMsg.h"
#include "platform/JpegCodec.h"
#include "platform/XpmCodec.h"

using namespace rtest;

namespace {

std::vector<std::string> g_errors, g_warnings;
void CatchError(const char* t) { g_errors.push_back(t); }
void CatchWarning(const char* t) { g_warnings.push_back(t); }

class CodecTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        g_errors.clear();
        g_warnings.clear();
    }
    void TearDown() override
    {
        ExternErrorSet(nullptr);
        ExternWarningSet(nullptr);
        TempDirTest::TearDown();
    }
};

}  // namespace

TEST_F(CodecTest, LibtiffTextsReachTheInstalledReceivers)
{
    ExternErrorSet(CatchError);
    ExternWarningSet(CatchWarning);
    WriteBytes(Path("x.tif"), {'I', 'I', 0x2B, 0x00, 9, 9, 9, 9});  // BigTIFF magic, bad header
    EXPECT_EQ(TIFFOpen(Path("x.tif").c_str(), "r"), nullptr);
    ASSERT_FALSE(g_errors.empty());
    // "module: message", the module being the file name.
    EXPECT_EQ(g_errors[0].rfind(Path("x.tif") + ": ", 0), 0u) << g_errors[0];

    TIFFWarning("mod", "value %d", 42);
    ASSERT_EQ(g_warnings.size(), 1u);
    EXPECT_EQ(g_warnings[0], "mod: value 42");

    // A null receiver silences the texts.
    ExternErrorSet(nullptr);
    size_t n = g_errors.size();
    TIFFError("m", "ignored");
    EXPECT_EQ(g_errors.size(), n);
}

TEST_F(CodecTest, JpegReaderFillsOnlyABufferOfTheReportedSize)
{
    Image img;
    ImgAlloc(img, 20, 12, 24);
    for (int i = 0; i < img.Size; i++) img.Data[i] = uint8_t(i);
    ASSERT_EQ(write_JPEG_file(Path("a.jpg").c_str(), img.Data, 20, 12, 85), 0);
    ImgFree(img);

    int32_t w = 0, h = 0, c = 0;
    ASSERT_EQ(info_JPEG_file(Path("a.jpg").c_str(), &w, &h, &c), 0);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 12);
    EXPECT_EQ(c, 3);
    std::vector<uint8_t> buf(20 * 12 * 3 + 16, 0xEE);
    int32_t bw = 20, bh = 11, bc = 3;  // a buffer one row short
    EXPECT_NE(read_JPEG_file(Path("a.jpg").c_str(), buf.data(), &bw, &bh, &bc), 0);
    bw = 20, bh = 12, bc = 1;
    EXPECT_NE(read_JPEG_file(Path("a.jpg").c_str(), buf.data(), &bw, &bh, &bc), 0);
    bw = 20, bh = 12, bc = 3;
    ASSERT_EQ(read_JPEG_file(Path("a.jpg").c_str(), buf.data(), &bw, &bh, &bc), 0);
    EXPECT_EQ(buf[20 * 12 * 3], 0xEE);  // nothing beyond the picture
    EXPECT_EQ(bh, 12);
}

TEST_F(CodecTest, WritersLeaveNoFileBehindWhenTheyFail)
{
    uint8_t px[12] = {};
    EXPECT_NE(write_JPEG_file(Path("z.jpg").c_str(), px, 0, 4, 85), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("z.jpg")));
    XpmRec rec;
    rec.Width = 2, rec.Height = 2, rec.Pixels = nullptr;
    EXPECT_NE(WriteXpm(Path("z.xpm").c_str(), &rec), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("z.xpm")));
}

TEST_F(CodecTest, ReadXpmReportsSizeFirstAndRefusesAMismatchedBuffer)
{
    std::string text = "/* XPM */\nstatic char *x[] = {\n\"3 2 2 1\",\n\". c black\",\n\"# c white\",\n\".#.\",\n\"#.#\"\n};\n";
    WriteBytes(Path("s.xpm"), std::vector<uint8_t>(text.begin(), text.end()));
    XpmRec rec;
    ASSERT_EQ(ReadXpm(Path("s.xpm").c_str(), &rec), 0);
    EXPECT_EQ(rec.Width, 3);
    EXPECT_EQ(rec.Height, 2);
    std::vector<uint8_t> buf(18 + 3, 0x5A);
    rec.Pixels = buf.data();
    rec.Height = 1;
    EXPECT_NE(ReadXpm(Path("s.xpm").c_str(), &rec), 0);
    rec.Height = 2;
    ASSERT_EQ(ReadXpm(Path("s.xpm").c_str(), &rec), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[3], 255);
    EXPECT_EQ(buf[17], 255);
    EXPECT_EQ(buf[18], 0x5A);
}
