// Adding pictures to the store: fitting, reduction, names, clashes, abort.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "core/AddImages.h"
#include "core/LogoFit.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreView.h"
#include "image/ImgBasic.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

using Rgb = std::function<uint32_t(int x, int y)>;  // 0xRRGGBB

void PutLe_(std::string& s, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string BmpHeader_(int w, int h, int bpp, uint32_t dataSize, uint32_t offset)
{
    std::string s(54, '\0');
    s[0] = 'B';
    s[1] = 'M';
    PutLe_(s, 2, offset + dataSize, 4);
    PutLe_(s, 10, offset, 4);
    PutLe_(s, 14, 40, 4);
    PutLe_(s, 18, static_cast<uint32_t>(w), 4);
    PutLe_(s, 22, static_cast<uint32_t>(h), 4);
    PutLe_(s, 26, 1, 2);
    PutLe_(s, 28, static_cast<uint32_t>(bpp), 2);
    PutLe_(s, 34, dataSize, 4);
    return s;
}

// A 24-bit Windows bitmap, written by hand so the test does not depend on our own writer.
void WriteBmp24(const std::string& path, int w, int h, const Rgb& color)
{
    const int row = (w * 3 + 3) & ~3;
    std::string s = BmpHeader_(w, h, 24, static_cast<uint32_t>(row * h), 54);
    std::string data(static_cast<size_t>(row) * h, '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = color(x, y);
            char* p = &data[static_cast<size_t>(h - 1 - y) * row + x * 3];
            p[0] = static_cast<char>(c & 0xFF);
            p[1] = static_cast<char>((c >> 8) & 0xFF);
            p[2] = static_cast<char>((c >> 16) & 0xFF);
        }
    std::ofstream(path, std::ios::binary) << s << data;
}

// An 8-bit bitmap as Windows writes logo files; byte 50 holds the first animated entry.
void WriteBmp8(const std::string& path, int w, int h, uint8_t byte50)
{
    const int row = (w + 3) & ~3;
    std::string s = BmpHeader_(w, h, 8, static_cast<uint32_t>(row * h), 54 + 1024);
    PutLe_(s, 46, 256, 4);
    s[50] = static_cast<char>(byte50);
    std::string pal(1024, '\0');
    for (int i = 0; i < 256; ++i) {
        pal[i * 4] = static_cast<char>(i);
        pal[i * 4 + 1] = static_cast<char>(255 - i);
        pal[i * 4 + 2] = static_cast<char>((i * 7) & 0xFF);
    }
    std::string data(static_cast<size_t>(row) * h, '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) data[static_cast<size_t>(h - 1 - y) * row + x] = static_cast<char>((x + y * 3) & 0xFF);
    std::ofstream(path, std::ios::binary) << s << pal << data;
}

class AddTest : public ::testing::Test {
protected:
    TempDir src, store;
    std::string savedPrefix = DefPrefix;
    int32_t savedMode = ResizeMode;
    void SetUp() override
    {
        SetStorageDir(store.str());
        ImageListFree(Images);
        Images = ImageListCreate();
        DefPrefix = "Pre";
        ResizeMode = RM_BORDER;
        OverwriteChoice = OC_NONE;
    }
    void TearDown() override
    {
        ImageListFree(Images);
        DefPrefix = savedPrefix;
        ResizeMode = savedMode;
    }
    std::string Pic(const std::string& name, int w, int h, uint32_t c = 0xFFFFFF)
    {
        const std::string p = src / name;
        WriteBmp24(p, w, h, [c](int, int) { return c; });
        return p;
    }
    // Loads a stored image; fails the test when it cannot.
    void Load(const std::string& name, Image& img)
    {
        ASSERT_TRUE(LoadStoredImage(store / name, img)) << name;
    }
    // Every stored picture must be a valid logo source.
    void ExpectLogoLayout(const std::string& name)
    {
        Image img;
        Load(name, img);
        ASSERT_EQ(img.Bpp, 8);
        ASSERT_EQ(img.Width, 320);
        ASSERT_EQ(img.Height, 400);
        for (int i : {0, 236, 240, 255})
            EXPECT_EQ(img.Pal[i][0] | img.Pal[i][1] | img.Pal[i][2], 0) << "entry " << i;
        int bad = 0;
        for (int i = 0; i < img.Size; ++i)
            if (img.Data[i] < 1 || img.Data[i] > 235) ++bad;
        EXPECT_EQ(bad, 0);
        ImgFree(img);
    }
    static uint32_t PixelRgb(const Image& img, int x, int y)
    {
        const uint8_t* p = img.Pal[img.Data[y * img.Width + x]];
        return (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
    }
    static bool Dark(uint32_t c) { return ((c >> 16) & 0xFF) < 16 && ((c >> 8) & 0xFF) < 16 && (c & 0xFF) < 16; }
    static bool Light(uint32_t c) { return ((c >> 16) & 0xFF) > 230 && ((c >> 8) & 0xFF) > 230 && (c & 0xFF) > 230; }
};

}  // namespace

TEST(LogoFitBox, ModesAndRounding)
{
    int w, h, x, y;
    LogoFitBox(640, 480, RM_BORDER, w, h, x, y);  // exactly 4:3: the picture itself
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({640, 480, 0, 0}));
    LogoFitBox(640, 480, RM_CROP, w, h, x, y);
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({640, 480, 0, 0}));
    LogoFitBox(400, 400, RM_BORDER, w, h, x, y);  // narrower: canvas round(400 * 4/3) wide, centred
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({533, 400, 66, 0}));
    LogoFitBox(400, 400, RM_CROP, w, h, x, y);  // narrower: round(400 * 0.75) rows from the middle
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({400, 300, 0, 50}));
    LogoFitBox(800, 300, RM_BORDER, w, h, x, y);  // wider: canvas round(800 * 0.75) high
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({800, 600, 0, 150}));
    LogoFitBox(800, 300, RM_CROP, w, h, x, y);
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({400, 300, 200, 0}));
    LogoFitBox(400, 400, RM_STRETCH, w, h, x, y);
    EXPECT_EQ(std::vector<int>({w, h, x, y}), std::vector<int>({400, 400, 0, 0}));
    // Halves go to the even neighbour: 402 * 0.75 = 301.5 -> 302, 406 * 0.75 = 304.5 -> 304;
    // halving the difference truncates: (1001 - 302) / 2 = 349.
    LogoFitBox(402, 1001, RM_CROP, w, h, x, y);
    EXPECT_EQ(h, 302);
    EXPECT_EQ(y, 349);
    LogoFitBox(406, 1000, RM_CROP, w, h, x, y);
    EXPECT_EQ(h, 304);
    LogoFitBox(1000, 406, RM_BORDER, w, h, x, y);
    EXPECT_EQ(h, 750);
    EXPECT_EQ(y, 172);
}

TEST_F(AddTest, BorderModeKeeps4to3AndAddsSideBorders)
{
    ScriptedUi ui;
    const std::string wide = Pic("wide.bmp", 640, 480);
    const std::string square = Pic("square.bmp", 400, 400);
    AddResult r;
    ImagesAddBatch({wide, square}, &r);
    EXPECT_EQ(ui.Count("error"), 0) << ui.Last("error") << r.Error << r.Failed << r.Aborted << ui.statuses.size() << ui.log.size() << (ui.log.empty() ? "" : ui.log[0].kind);
    ASSERT_EQ(r.Stored, std::vector<std::string>({"Pre--wide.png", "Pre--square.png"}));
    ExpectLogoLayout("Pre--wide.png");
    ExpectLogoLayout("Pre--square.png");

    Image img;
    Load("Pre--wide.png", img);
    for (int x : {0, 1, 160, 318, 319})
        for (int y : {0, 200, 399}) EXPECT_TRUE(Light(PixelRgb(img, x, y))) << x << "," << y;
    ImgFree(img);
    // 400 x 400 on a 533-wide black canvas at x = 66: about 40 black columns on each side.
    Load("Pre--square.png", img);
    for (int x : {0, 20, 35, 285, 300, 319}) EXPECT_TRUE(Dark(PixelRgb(img, x, 200))) << x;
    for (int x : {45, 160, 275}) EXPECT_TRUE(Light(PixelRgb(img, x, 200))) << x;
    ImgFree(img);
    // The index is written with both entries.
    ImageList* back = ImageListCreate();
    ReadImageIndex(back, store / "headers.dat");
    EXPECT_EQ(ImageListCount(back), 2);
    ImageListFree(back);
    // Progress text per file.
    ASSERT_EQ(ui.statuses.size(), 2u);
    EXPECT_EQ(ui.statuses[1], "Adding image \"square.bmp\" (file 2 of 2), press ESC to abort...");
}

TEST_F(AddTest, CropAndStretch)
{
    ScriptedUi ui;
    // Red top band and blue bottom band of 50 rows each on white.
    const std::string p = src / "bands.bmp";
    WriteBmp24(p, 400, 400, [](int, int y) -> uint32_t { return y < 50 ? 0xFF0000 : y >= 350 ? 0x0000FF : 0xFFFFFF; });
    ResizeMode = RM_CROP;
    ImagesAddBatch({p});
    Image img;
    Load("Pre--bands.png", img);
    EXPECT_TRUE(Light(PixelRgb(img, 160, 0)));  // the 300 middle rows only
    EXPECT_TRUE(Light(PixelRgb(img, 160, 399)));
    EXPECT_TRUE(Light(PixelRgb(img, 0, 200)));  // no border
    ImgFree(img);

    ResizeMode = RM_STRETCH;
    OverwriteChoice = OC_OVERWRITE_ALL;
    ImagesAddBatch({p});
    Load("Pre--bands.png", img);
    const uint32_t top = PixelRgb(img, 160, 0), bottom = PixelRgb(img, 160, 399);
    EXPECT_GT((top >> 16) & 0xFF, 200u);
    EXPECT_LT(top & 0xFF, 60u);
    EXPECT_GT(bottom & 0xFF, 200u);
    EXPECT_LT((bottom >> 16) & 0xFF, 60u);
    EXPECT_TRUE(Light(PixelRgb(img, 0, 200)));
    ImgFree(img);
    ExpectLogoLayout("Pre--bands.png");
}

TEST_F(AddTest, LogoFilesKeepTheirPaletteOrAreFitted)
{
    ScriptedUi ui;
    const std::string logo = src / "logo.sys";
    WriteBmp8(logo, 320, 400, 200);
    const std::string other = src / "logow.sys";
    WriteBmp8(other, 640, 480, 99);
    AddResult r;
    ImagesAddBatch({logo, other}, &r);
    ASSERT_EQ(r.Stored.size(), 2u);

    int32_t i = ImageListFind(Images, "Pre--logo.png");
    ASSERT_NE(i, Undef);
    EXPECT_NE(Images->Items[i]->FromLogoFile, 0);
    EXPECT_EQ(Images->Items[i]->AnimStart, 200);
    EXPECT_EQ(Images->Items[i]->Positions, 7);
    EXPECT_EQ(Images->Items[i]->FileSize, static_cast<int32_t>(fs::file_size(store / "Pre--logo.png")));
    Image img;
    Load("Pre--logo.png", img);
    ASSERT_EQ(img.Bpp, 8);
    EXPECT_EQ(img.Data[0], 0);                     // pixel (0, 0) is (0 + 0) & 255
    EXPECT_EQ(img.Data[5 * 320 + 7], (7 + 15) & 0xFF);
    EXPECT_EQ(img.Pal[17][0], 17);                 // blue
    EXPECT_EQ(img.Pal[17][1], 255 - 17);           // green
    ImgFree(img);

    i = ImageListFind(Images, "Pre--logow.png");
    ASSERT_NE(i, Undef);
    EXPECT_EQ(Images->Items[i]->FromLogoFile, 0);
    ExpectLogoLayout("Pre--logow.png");
}

TEST_F(AddTest, SourcePrefixIsReplacedAndNamesStayInTheFolder)
{
    DefPrefix = "Mine";
    EXPECT_EQ(AddTargetPath("/x/Old--Name.bmp"), store.str() + "Mine--Name.png");
    EXPECT_EQ(AddTargetPath("/x/Plain.jpeg"), store.str() + "Mine--Plain.png");
    const std::string longName = AddTargetPath("/x/" + std::string(200, 'a') + ".bmp");
    const std::string file = fs::path(longName).filename().string();
    EXPECT_EQ(file.size(), 127u);
    EXPECT_EQ(file.substr(file.size() - 4), ".png");
    DefPrefix = "../up";  // a hand-edited settings file
    EXPECT_EQ(fs::path(AddTargetPath("/x/a.bmp")).parent_path().string() + "/", store.str());

    ScriptedUi ui;
    DefPrefix = "Mine";
    ImagesAddBatch({Pic("Old--Name.bmp", 320, 400, 0x336699)});
    EXPECT_TRUE(fs::exists(store / "Mine--Name.png"));
    ExpectLogoLayout("Mine--Name.png");
}

TEST_F(AddTest, ClashDecisions)
{
    ScriptedUi ui;
    const std::string a = Pic("a.bmp", 100, 100);
    ImagesAddBatch({a});
    ui.overwrites = {OC_OVERWRITE};
    ImagesAddBatch({a});
    ASSERT_EQ(ui.Count("overwrite"), 1);
    EXPECT_EQ(ui.Last("overwrite"),
              "Image Already Exists|Image \"Pre--a.png\" already exists in the destination folder. What to do with it?");
    EXPECT_EQ(ImageListCount(Images), 1);
    int pngs = 0;
    for (auto& e : fs::directory_iterator(store.path)) pngs += e.path().extension() == ".png";
    EXPECT_EQ(pngs, 1);

    // Rename, then Cancel at the prompt: the clash dialog comes again; then a new name.
    OverwriteChoice = OC_NONE;
    ui.overwrites = {OC_RENAME, OC_RENAME};
    ui.prompts = {std::nullopt, std::string("b/../c")};
    ImagesAddBatch({a});
    EXPECT_EQ(ui.Count("overwrite"), 3);
    EXPECT_EQ(ui.Last("prompt"), "Rename|Enter new name|Pre--a");
    EXPECT_NE(ImageListFind(Images, "b_.._c.png"), Undef);
    EXPECT_TRUE(fs::exists(store / "b_.._c.png"));

    // Skip All holds for the rest of the batch; unclashing files are still added.
    OverwriteChoice = OC_NONE;
    const std::string b = Pic("b.bmp", 100, 100);
    const std::string c = Pic("c.bmp", 100, 100);
    ImagesAddBatch({b});
    ui.overwrites = {OC_SKIP_ALL};
    AddResult r;
    ImagesAddBatch({a, Pic("d.bmp", 50, 50), b}, &r);
    EXPECT_EQ(ui.Count("overwrite"), 4);
    EXPECT_EQ(r.Stored, std::vector<std::string>({"Pre--d.png"}));

    // Overwrite All likewise, also over an image stored in another letter case: one file each.
    OverwriteChoice = OC_NONE;
    ui.overwrites = {OC_OVERWRITE_ALL};
    r = AddResult();
    ImagesAddBatch({a, Pic("B.bmp", 100, 100), c}, &r);
    EXPECT_EQ(ui.Count("overwrite"), 5);
    EXPECT_EQ(r.Stored, std::vector<std::string>({"Pre--a.png", "Pre--b.png", "Pre--c.png"}));
    EXPECT_EQ(ImageListCount(Images), 5);  // a, b, c, d and the renamed one
    pngs = 0;
    for (auto& e : fs::directory_iterator(store.path)) pngs += e.path().extension() == ".png";
    EXPECT_EQ(pngs, 5);
}

TEST_F(AddTest, LoadErrorsDoNotStopTheBatch)
{
    ScriptedUi ui;
    const std::string broken = src / "broken.png";
    std::ofstream(broken) << "not a picture";
    const std::string good = Pic("good.bmp", 64, 48);
    AddResult r;
    ImagesAddBatch({broken, src / "missing.gif", good}, &r);
    EXPECT_TRUE(ui.Has("error", "Error loading \"" + broken + "\"\nInvalid image format.")) << ui.Last("error");
    EXPECT_EQ(ui.Count("error"), 2);
    EXPECT_EQ(r.Failed, 2);
    EXPECT_EQ(r.Stored, std::vector<std::string>({"Pre--good.png"}));
}

namespace {
// Esc pressed while the second status line is shown.
class EscUi : public ScriptedUi {
public:
    void ShowStatus(const std::string& text, bool bold) override
    {
        ScriptedUi::ShowStatus(text, bold);
        if (statuses.size() == 2) OverwriteChoice = OC_ABORT;
    }
};
}  // namespace

TEST_F(AddTest, EscStopsAfterTheCurrentFileAndTheIndexIsWritten)
{
    EscUi ui;
    AddResult r;
    ImagesAddBatch({Pic("one.bmp", 64, 48), Pic("two.bmp", 64, 48), Pic("three.bmp", 64, 48)}, &r);
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.Stored, std::vector<std::string>({"Pre--one.png"}));
    EXPECT_EQ(ui.statuses.size(), 2u);
    EXPECT_FALSE(fs::exists(store / "Pre--two.png"));
    ImageList* back = ImageListCreate();
    ReadImageIndex(back, store / "headers.dat");
    ASSERT_EQ(ImageListCount(back), 1);
    EXPECT_EQ(EntryName(*back->Items[0]), "Pre--one.png");
    ImageListFree(back);
    EXPECT_EQ(ui.busyChanges, std::vector<bool>({true, false}));
}

TEST_F(AddTest, StorageFolderThatCannotBeMade)
{
    ScriptedUi ui;
    std::ofstream(src / "blocker") << "x";
    SetStorageDir(src / "blocker/sub");
    AddResult r;
    ImagesAddBatch({Pic("x.bmp", 32, 32), Pic("y.bmp", 32, 32)}, &r);
    EXPECT_TRUE(ui.Has("error", "Couldn't make storage directory."));
    EXPECT_EQ(ui.Count("error"), 1);  // the run stops
    EXPECT_TRUE(r.Aborted);
    EXPECT_TRUE(r.Stored.empty());
    EXPECT_EQ(ImageListCount(Images), 0);
}
