// Building logo files from a store, and the picks of the automatic change.
#include "base/Basic.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/Shuffle.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/TempEnv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

uint32_t U32(const std::string& s, size_t at)
{
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 | static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

// A logo-palette image: entry i = (i, 255 - i, i / 2) for 1..235, pixels from fill(x, y).
template <class F> void MakeLogoImage(Image& img, F fill)
{
    ImgAlloc(img, LOGO_WIDTH, LOGO_HEIGHT, 8);
    std::memset(img.Pal, 0, sizeof img.Pal);
    for (int i = 1; i <= 235; ++i) {
        img.Pal[i][2] = static_cast<uint8_t>(i);
        img.Pal[i][1] = static_cast<uint8_t>(255 - i);
        img.Pal[i][0] = static_cast<uint8_t>(i / 2);
    }
    for (int y = 0; y < LOGO_HEIGHT; ++y)
        for (int x = 0; x < LOGO_WIDTH; ++x) img.Data[y * LOGO_WIDTH + x] = static_cast<uint8_t>(fill(x, y));
}

class LogoBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetParams({"/opt/kvs/kelvane-studio"});
        LoadSettings();
        for (int p : {1, 2, 4}) SetMessageText(p, "");
        std::filesystem::create_directories(GetStorageDir());
        ShuffleSeed(1234);
    }
    void TearDown() override
    {
        StoreFree();
        SetParams({});
    }
    void AddStored(const std::string& name, int colour)
    {
        Image img;
        MakeLogoImage(img, [&](int, int) { return colour; });
        ASSERT_TRUE(SaveStoredImage(GetStorageDir() + name, img));
        ImgFree(img);
    }
    void Reload()
    {
        StoreFree();
        StoreLoad();
    }
    // Colour index of the logo file's top-left pixel (rows are stored bottom-up).
    static int TopLeft(const std::string& file) { return static_cast<uint8_t>(file[1078 + 399 * 320]); }
    TempEnv env;
};

}  // namespace

TEST_F(LogoBuildTest, StartupWithBandAndPlainWaitFileLayout)
{
    Image img;
    MakeLogoImage(img, [](int x, int y) { return 1 + (x + y) % 235; });
    ASSERT_TRUE(SaveStoredImage(GetStorageDir() + "Test--Diag.png", img));
    Reload();
    ASSERT_EQ(ImageListCount(Images), 1);
    const ImageEntry entry = *ImageListGet(Images, 0);
    AnimEnabled = true;
    AnimShape = 1;
    AnimMove = 0;
    BuildLogo(entry, POS_STARTUP, "");
    BuildLogo(entry, POS_WAIT, "");

    const std::string startup = TempEnv::Read(GetLogoFileName(POS_STARTUP));
    ASSERT_EQ(startup.size(), 129078u);
    EXPECT_EQ(startup.substr(0, 2), "BM");
    EXPECT_EQ(U32(startup, 2), 129078u);
    EXPECT_EQ(U32(startup, 10), 1078u);
    EXPECT_EQ(U32(startup, 14), 40u);
    EXPECT_EQ(U32(startup, 18), 320u);
    EXPECT_EQ(U32(startup, 22), 400u);
    EXPECT_EQ(U32(startup, 34), 128000u);
    EXPECT_EQ(U32(startup, 46), 256u);
    EXPECT_EQ(U32(startup, 50), 236u);  // bytes 236, 0, 0, 0
    // palette: blue, green, red, 0 per entry
    EXPECT_EQ(static_cast<uint8_t>(startup[54 + 4 * 7 + 2]), 7);
    EXPECT_EQ(static_cast<uint8_t>(startup[54 + 4 * 7 + 1]), 248);
    EXPECT_EQ(static_cast<uint8_t>(startup[54 + 4 * 236 + 0]), 255);  // band colour 1 = (0, 128, 255)
    // bottom-up rows: file row 0 is image row 399 (band), file row 6 is image row 393
    for (int r = 0; r < 6; ++r)
        for (int x = 0; x < 320; ++x) ASSERT_GE(static_cast<uint8_t>(startup[1078 + r * 320 + x]), 236);
    EXPECT_EQ(static_cast<uint8_t>(startup[1078 + 6 * 320 + 5]), 1 + (5 + 393) % 235);
    EXPECT_EQ(TopLeft(startup), 1);

    const std::string wait = TempEnv::Read(GetLogoFileName(POS_WAIT));
    ASSERT_EQ(wait.size(), 129078u);
    EXPECT_EQ(U32(wait, 50), 256u);  // bytes 0, 1, 0, 0
    EXPECT_EQ(static_cast<uint8_t>(wait[1078 + 5]), 1 + (5 + 399) % 235);  // no band
    EXPECT_FALSE(std::filesystem::exists(GetLogoFileName(POS_WAIT) + ".kvs-tmp"));
    ImgFree(img);
}

TEST_F(LogoBuildTest, ImportedLogoKeepsItsOwnBandByte)
{
    AddStored("Old--Logo.png", 9);
    Reload();
    ImageEntry entry = *ImageListGet(Images, 0);
    entry.FromLogoFile = -1;
    entry.AnimStart = 0;
    AnimEnabled = true;
    BuildLogo(entry, POS_STARTUP, "");
    const std::string startup = TempEnv::Read(GetLogoFileName(POS_STARTUP));
    ASSERT_EQ(startup.size(), 129078u);
    EXPECT_EQ(U32(startup, 50), 0u);
    EXPECT_EQ(static_cast<uint8_t>(startup[1078]), 9);  // no band drawn over the picture
    EXPECT_EQ(static_cast<uint8_t>(startup[54 + 4 * 236]), 0);  // the palette stays its own
}

TEST_F(LogoBuildTest, ShapeSevenSetsPaletteButDrawsNoBand)
{
    AddStored("A--One.png", 3);
    Reload();
    AnimEnabled = true;
    AnimShape = 7;
    BuildLogo(*ImageListGet(Images, 0), POS_STARTUP, "");
    const std::string startup = TempEnv::Read(GetLogoFileName(POS_STARTUP));
    EXPECT_EQ(U32(startup, 50), 236u);
    EXPECT_EQ(static_cast<uint8_t>(startup[54 + 4 * 236 + 1]), 128);
    for (int i = 0; i < 320 * 400; ++i) ASSERT_EQ(static_cast<uint8_t>(startup[1078 + i]), 3);
}

TEST_F(LogoBuildTest, MessageIsDrawnAtEightTwelveWithBorderAndStopsAtTheBottom)
{
    AddStored("Msg--Plain.png", 200);
    Reload();
    AnimEnabled = false;
    FontName = "DejaVu Sans";
    FontSize = 10;
    TextColor = 0xFFFFFF;     // nearest entry to white
    TextBorderColor = 0;      // black: entry 0
    std::string many;
    for (int i = 0; i < 40; ++i) many += (i ? "\r\n" : "") + std::string("Line ") + std::to_string(i);
    BuildLogo(*ImageListGet(Images, 0), POS_WAIT, "Hello World\r\n\r\n" + many);
    const std::string wait = TempEnv::Read(GetLogoFileName(POS_WAIT));
    ASSERT_EQ(wait.size(), 129078u);
    auto at = [&](int x, int y) { return static_cast<uint8_t>(wait[1078 + (399 - y) * 320 + x]); };
    int minX = 320, minY = 400, glyph = 0, border = 0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 320; ++x) {
            int v = at(x, y);
            if (v == 200) continue;
            if (v == 0) ++border;
            else ++glyph;
            minX = std::min(minX, x);
            minY = std::min(minY, y);
        }
    EXPECT_GT(glyph, 100);
    EXPECT_GT(border, glyph / 2);
    EXPECT_GE(minX, 8);
    EXPECT_LE(minX, 12);
    EXPECT_GE(minY, 12);
    EXPECT_LE(minY, 20);
    // the text colour is the palette entry nearest white among 0..235
    uint8_t pal[256][3];
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) pal[i][c] = static_cast<uint8_t>(wait[54 + 4 * i + c]);
    const int white = FindLogoColor(0xFFFFFF, pal, 236);
    bool seen = false;
    for (int y = 12; y < 40 && !seen; ++y)
        for (int x = 8; x < 100; ++x) seen |= at(x, y) == white;
    EXPECT_TRUE(seen);
    // 40 more lines do not fit: the last rows are reached but nothing wraps around to the top
    bool bottomDrawn = false;
    for (int y = 380; y < 400; ++y)
        for (int x = 0; x < 320; ++x) bottomDrawn |= at(x, y) != 200;
    EXPECT_TRUE(bottomDrawn);
    for (int x = 0; x < 320; ++x) EXPECT_EQ(at(x, 0), 200);
}

TEST_F(LogoBuildTest, SequentialPicksStepThroughEligibleImages)
{
    AddStored("P--a.png", 10);
    AddStored("P--b.png", 20);
    AddStored("P--c.png", 30);
    Reload();
    LogoPickMethod = 0;
    Logo0Index = 0;
    std::vector<int> seen, counters;
    for (int run = 0; run < 4; ++run) {
        ChangeLogos(LogoPickMethod);
        seen.push_back(TopLeft(TempEnv::Read(GetLogoFileName(POS_STARTUP))));
        counters.push_back(Logo0Index);
    }
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30, 10}));
    EXPECT_EQ(counters, (std::vector<int>{1, 2, 3, 1}));
    Logo0Index = 5;
    EXPECT_EQ(PickImageForPosition(POS_STARTUP, LogoPickMethod), 0);
    EXPECT_EQ(Logo0Index, 1);
}

TEST_F(LogoBuildTest, PositionsDecideEligibility)
{
    AddStored("Q--only-wait.png", 40);
    Reload();
    ImageListGet(Images, 0)->Positions = POS_WAIT;
    TempEnv::Write(GetLogoFileName(POS_STARTUP), "old startup logo");
    ChangeLogos(LogoPickMethod);
    EXPECT_EQ(TempEnv::Read(GetLogoFileName(POS_STARTUP)), "old startup logo");  // kept
    EXPECT_EQ(TopLeft(TempEnv::Read(GetLogoFileName(POS_WAIT))), 40);
    EXPECT_EQ(PickImageForPosition(POS_TURNOFF, LogoPickMethod), Undef);
}

TEST(Picking, IndexMethods)
{
    int32_t counter = 7;
    EXPECT_EQ(PickIndex(counter, 0, 0), Undef);
    EXPECT_EQ(counter, 7);
    ShuffleSeed(99);
    for (int i = 0; i < 20; ++i) {
        int32_t r = PickIndex(counter, 4, 1);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 4);
        ASSERT_EQ(counter, r + 1);
    }
    EXPECT_EQ(PickIndex(counter, 4, 2), 0);
    EXPECT_EQ(counter, 1);
    counter = 3;
    int32_t r = PickIndex(counter, 4, 9);
    EXPECT_GE(r, 0);
    EXPECT_EQ(counter, 3);
}

TEST(Picking, MessagesSplitOnlyAtABareDashLine)
{
    const std::string text = "one\r\n--\r\ntwo\r\n -- \r\nstill two\r\n--\r\nthree";
    EXPECT_EQ(CountParts(text, MSG_SEPARATOR), 3);
    std::string part;
    ASSERT_TRUE(GetPart(text, MSG_SEPARATOR, 1, part));
    EXPECT_EQ(part, "two\r\n -- \r\nstill two");
    ASSERT_TRUE(GetPart(text, MSG_SEPARATOR, 2, part));
    EXPECT_EQ(part, "three");
    EXPECT_FALSE(GetPart(text, MSG_SEPARATOR, 3, part));
    EXPECT_EQ(CountParts("", MSG_SEPARATOR), 1);
}

TEST_F(LogoBuildTest, MessagePickMethodsAndDisabledMessages)
{
    SetMessageText(POS_STARTUP, "first\r\n--\r\nsecond");
    MsgPickMethod = 2;
    Msg0Index = 0;
    EXPECT_EQ(PickMessage(POS_STARTUP, GetMessageText(POS_STARTUP)), "first");
    EXPECT_EQ(Msg0Index, 1);
    EXPECT_EQ(PickMessage(POS_STARTUP, GetMessageText(POS_STARTUP)), "first");
    MsgPickMethod = 0;
    EXPECT_EQ(PickMessage(POS_STARTUP, GetMessageText(POS_STARTUP)), "second");
    EXPECT_EQ(Msg0Index, 2);

    AddStored("M--x.png", 50);
    Reload();
    Msg1Enabled = false;
    Msg1Index = 0;
    SetMessageText(POS_WAIT, "a\r\n--\r\nb");
    ChangeLogos(LogoPickMethod);
    EXPECT_EQ(Msg1Index, 0);
    Msg1Enabled = true;
    ChangeLogos(LogoPickMethod);
    EXPECT_EQ(Msg1Index, 1);
}
