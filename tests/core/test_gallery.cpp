// Gallery files: layout, round trip, the create and open flows, damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/SafeFile.h"
#include "core/AddImages.h"
#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

// Temporary files of the safe write path left in folder.
static int TempsIn_(const fs::path& folder)
{
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        if (SafeIsTempName(e.path().filename().string())) ++n;
    return n;
}


namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

int32_t Le(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return static_cast<int32_t>(v);
}

void PutLe(std::string& s, size_t at, int32_t value)
{
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
}

std::string ShortText(const std::string& text, size_t size)
{
    std::string s(size, '\0');
    s[0] = static_cast<char>(text.size());
    std::memcpy(&s[1], text.data(), text.size());
    return s;
}

// Data that passes for a picture: only records that begin so are unpacked.
std::string Png(const std::string& filler) { return std::string("\x89PNG\r\n\x1A\n", 8) + filler; }

// A gallery as another program version might write it: recordSize lets records grow.
std::string MakeGallery(const std::string& prefix, int version, const std::vector<std::pair<std::string, std::string>>& images,
                        int recordSize = 148, int headerSize = 108)
{
    std::string g(static_cast<size_t>(headerSize), '\0');
    PutLe(g, 0, headerSize);
    g.replace(4, 32, ShortText("Kelvane Studio Gallery", 32));
    PutLe(g, 36, version);
    g.replace(40, 64, ShortText(prefix, 64));
    PutLe(g, 104, static_cast<int32_t>(images.size()));
    int k = 0;
    for (const auto& [name, data] : images) {
        std::string r(static_cast<size_t>(recordSize), '\0');
        PutLe(r, 0, recordSize);
        r.replace(4, 128, ShortText(name, 128));
        PutLe(r, 132, static_cast<int32_t>(data.size()));
        if (recordSize >= 140) PutLe(r, 136, 1 + (k % 7));
        if (recordSize >= 144) PutLe(r, 140, k % 2 ? -1 : 0);
        if (recordSize >= 148) PutLe(r, 144, 230 + k);
        g += r + data;
        ++k;
    }
    return g;
}

// Shows the outcome as the window does, so the checks read what the user sees; whether it was done.
bool Shown(const Outcome& o)
{
    OutcomeShow(o);
    return OutcomeOk(o) && !o.Declined;
}

class GalleryTest : public ::testing::Test {
protected:
    TempDir store, out;
    std::string savedGalDir = GalDir;
    void SetUp() override
    {
        SetStorageDir(store.str());
        Put("Sea--Dawn.png", Png("dawn-bytes\x01\x02"), 3, 0, 0);
        Put("Sea--Dusk.png", Png(std::string(5000, 'd')), 5, -1, 241);
        Put("Plain.png", Png("plain"), 7, 0, 0);
        Put("Hill--Top.png", Png("top"), 2, 0, 0);
        // The index on disk is what a command reads when it takes the store.
        WriteImageIndex(Images, store.str());
        OverwriteChoice = OC_NONE;
    }
    void TearDown() override
    {
        ImageListFree(Images);
        GalDir = savedGalDir;
    }
    void Put(const std::string& name, const std::string& data, int positions, int fromLogo, int anim)
    {
        WriteAll(store / name, data);
        if (!Images) Images = ImageListCreate();
        ImageEntry* e = ImageListFindOrAdd(Images, name);
        EntrySetName(*e, name);
        e->Positions = positions;
        e->FileSize = static_cast<int32_t>(data.size());
        e->FromLogoFile = fromLogo;
        e->AnimStart = anim;
        ImageListSort(Images);
    }
    const ImageEntry* Entry(const std::string& name)
    {
        int32_t i = ImageListFind(Images, name);
        return i == Undef ? nullptr : Images->Items[i];
    }
    std::vector<std::string> StoreFiles()
    {
        std::vector<std::string> v;
        for (auto& e : fs::directory_iterator(store.path))
            if (e.path().filename() != STORE_LOCK_FILE) v.push_back(e.path().filename().string());
        std::sort(v.begin(), v.end());
        return v;
    }
};

}  // namespace

TEST(GalleryDownload, TimesOfTheSummary)
{
    EXPECT_EQ(GalDownloadTimes(180000),
              "  00:01:45  at  14.4 kbps\r\n"
              "  00:00:55  at  28.8 kbps\r\n"
              "  00:00:45  at  33.6 kbps\r\n"
              "  00:00:30  at  56 kbps\r\n"
              "  00:00:11  at  128 kbps\r\n"
              "  00:00:01  at  1.5 Mbps\r\n");
    EXPECT_EQ(GalDownloadSeconds(18900, 14400), 10);  // 10.5 -> 10
    EXPECT_EQ(GalDownloadSeconds(36900, 14400), 20);  // 20.5 -> 20, not above 20
    EXPECT_EQ(GalDownloadSeconds(37800, 14400), 25);  // 21 -> 25
    EXPECT_EQ(GalDownloadSeconds(45000, 14400), 30);  // 25 -> 30
    EXPECT_EQ(GalDownloadTimes(18900).substr(0, 10), "  00:00:10");
    EXPECT_EQ(GalDownloadTimes(36900).substr(0, 10), "  00:00:20");
}

TEST_F(GalleryTest, LayoutAndRoundTripUnderAnotherPrefix)
{
    ScriptedUi ui;
    const std::string gal = out / "g.gal";
    ASSERT_TRUE(Shown(GalleryCreate(gal, "Sea", {"Sea--Dawn.png", "sea--dusk.png", "Plain.png"}, Answers())));
    const std::string g = ReadAll(gal);
    ASSERT_EQ(g.size(), 108u + 3 * 148 + 3 * 8 + 5 + 12 + 5000);
    EXPECT_EQ(Le(g, 0), 108);
    EXPECT_EQ(g.substr(4, 32), ShortText("Kelvane Studio Gallery", 32));
    EXPECT_EQ(Le(g, 36), 2);
    EXPECT_EQ(g.substr(40, 64), ShortText("Sea", 64));
    EXPECT_EQ(Le(g, 104), 3);
    // List order: Plain, Sea--Dawn, Sea--Dusk.
    size_t p = 108;
    EXPECT_EQ(Le(g, p), 148);
    EXPECT_EQ(g.substr(p + 4, 128), ShortText("Plain.png", 128));
    EXPECT_EQ(Le(g, p + 132), 8 + 5);
    EXPECT_EQ(Le(g, p + 136), 7);
    EXPECT_EQ(g.substr(p + 148, 8 + 5), Png("plain"));
    p += 148 + 8 + 5;
    EXPECT_EQ(g.substr(p + 4, 128), ShortText("Dawn.png", 128));
    p += 148 + 8 + 12;
    EXPECT_EQ(g.substr(p + 4, 128), ShortText("Dusk.png", 128));
    EXPECT_EQ(Le(g, p + 136), 5);
    EXPECT_EQ(Le(g, p + 140), -1);
    EXPECT_EQ(Le(g, p + 144), 241);
    EXPECT_EQ(ui.statuses.back(), "Creating gallery, adding image 3 of 3");
    const std::string summary = ui.Last("info");
    EXPECT_EQ(summary.substr(0, summary.find("File size")),
              "Gallery \"" + gal + "\" successfully created.\r\n\r\nPrefix: \"Sea\"\r\nNumber of pictures: 3\r\n");
    EXPECT_EQ(summary.substr(summary.size() - 4), "\r\n\r\n");
    EXPECT_EQ(TempsIn_(fs::path(gal).parent_path()), 0);

    // Opening it clashes with the Sea images: rename to Copy.
    ui.answers = {"N"};
    ui.prompts = {std::string("Copy")};
    const Outcome opened = GalleryRead(gal);
    ASSERT_TRUE(Shown(opened));
    EXPECT_EQ(ui.Last("yesnocancel"), GAL_PREFIX_CLASH);
    EXPECT_EQ(ui.log[ui.log.size() - 3].defaultButton, 3);
    EXPECT_EQ(ui.Last("prompt"), "Open Gallery|Enter new image prefix|Sea");
    EXPECT_EQ(ui.Last("info"), "Images extracted under prefix \"Copy\".");
    EXPECT_EQ(ReadAll(store / "Copy--Dawn.png"), ReadAll(store / "Sea--Dawn.png"));
    EXPECT_EQ(ReadAll(store / "Copy--Dusk.png"), ReadAll(store / "Sea--Dusk.png"));
    EXPECT_EQ(ReadAll(store / "Copy--Plain.png"), Png("plain"));
    for (const char* n : {"Dawn.png", "Dusk.png"}) {
        const ImageEntry* a = Entry(std::string("Sea--") + n);
        const ImageEntry* b = Entry(std::string("Copy--") + n);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->Positions, b->Positions);
        EXPECT_EQ(a->FromLogoFile, b->FromLogoFile);
        EXPECT_EQ(a->AnimStart, b->AnimStart);
        EXPECT_EQ(a->FileSize, b->FileSize);
    }
    EXPECT_EQ(opened.Select, "Copy--Plain.png");
    // The index was saved with the new images.
    ImageList* back = ImageListCreate();
    ReadImageIndex(back, store / "headers.dat");
    EXPECT_EQ(ImageListCount(back), 7);
    ImageListFree(back);
}

namespace {
class EscUi : public ScriptedUi {
public:
    void ShowStatus(const std::string& text, bool bold) override
    {
        ScriptedUi::ShowStatus(text, bold);
        OverwriteChoice = OC_ABORT;
    }
};
}  // namespace

TEST_F(GalleryTest, EscapeStopsAfterTheCurrentImage)
{
    EscUi ui;
    ASSERT_TRUE(Shown(GalleryCreate(out / "e.gal", "E", {"Sea--Dawn.png", "Sea--Dusk.png"}, Answers())));
    const std::string g = ReadAll(out / "e.gal");
    EXPECT_EQ(Le(g, 104), 1);
    EXPECT_EQ(g.size(), 108u + 148 + 8 + 12);
    EXPECT_NE(ui.Last("info").find("Number of pictures: 1\r\n"), std::string::npos);
}

TEST_F(GalleryTest, WriteFailureKeepsTheOldFile)
{
    ScriptedUi ui;
    fs::remove(store / "Sea--Dusk.png");
    WriteAll(out / "old.gal", "old");
    ui.answers = {"Y"};
    EXPECT_FALSE(Shown(GalleryCreate(out / "old.gal", "X", {"Sea--Dawn.png", "Sea--Dusk.png"}, Answers())));
    EXPECT_EQ(ui.Count("error"), 1);
    EXPECT_EQ(ui.Count("info"), 0);
    EXPECT_EQ(ReadAll(out / "old.gal"), "old");
    EXPECT_EQ(TempsIn_(out.path), 0);
}

TEST_F(GalleryTest, OnePictureNamedTwiceIsOnePicture)
{
    const Outcome twice = GalleryCreate(out / "Twice.gal", "T", {"Plain.png", "plain.PNG"}, Answers());
    ASSERT_EQ(twice.Errors, std::vector<std::string>{GAL_TOO_FEW});
    EXPECT_FALSE(fs::exists(out / "Twice.gal"));
}

TEST_F(GalleryTest, RefusedFilesChangeNothing)
{
    ScriptedUi ui;
    const std::vector<std::string> before = StoreFiles();
    WriteAll(out / "not.gal", std::string(300, 'x'));
    EXPECT_FALSE(Shown(GalleryRead(out / "not.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_NOT_GALLERY);
    WriteAll(out / "zero.gal", "");
    EXPECT_FALSE(Shown(GalleryRead(out / "zero.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_NOT_GALLERY);
    WriteAll(out / "short.gal", "ab");
    EXPECT_FALSE(Shown(GalleryRead(out / "short.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_NOT_GALLERY);
    WriteAll(out / "v1.gal", MakeGallery("Old", 1, {{"a.png", "aaa"}}));
    EXPECT_FALSE(Shown(GalleryRead(out / "v1.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_OLDER);
    WriteAll(out / "empty.gal", MakeGallery("E", 2, {}));
    EXPECT_FALSE(Shown(GalleryRead(out / "empty.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_DAMAGED);
    std::string longPrefix = MakeGallery("P", 2, {{"a.png", "a"}});
    longPrefix[40] = 100;
    WriteAll(out / "lp.gal", longPrefix);
    EXPECT_FALSE(Shown(GalleryRead(out / "lp.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_DAMAGED);
    EXPECT_EQ(StoreFiles(), before);
    EXPECT_EQ(ImageListCount(Images), 4);
    EXPECT_EQ(ui.Count("info"), 0);
}

TEST_F(GalleryTest, NewerVersionsAndLargerRecords)
{
    ScriptedUi ui;
    WriteAll(out / "v3.gal", MakeGallery("New", 3, {{"a.png", Png("AAAA")}, {"b.png", Png("BB")}}, 200, 120));
    ASSERT_TRUE(Shown(GalleryRead(out / "v3.gal")));
    EXPECT_EQ(ui.Last("warning"), GAL_NEWER);
    EXPECT_EQ(ReadAll(store / "New--a.png"), Png("AAAA"));
    EXPECT_EQ(ReadAll(store / "New--b.png"), Png("BB"));
    const ImageEntry* b = Entry("New--b.png");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Positions, 2);
    EXPECT_EQ(b->FromLogoFile, -1);
    EXPECT_EQ(b->AnimStart, 231);
    EXPECT_EQ(b->FileSize, 8 + 2);

    // A record shorter than 148 bytes: the missing fields count as zero.
    std::string shortRec = MakeGallery("Zed", 2, {{"c.png", Png("c")}}, 140);
    WriteAll(out / "s.gal", shortRec);
    ASSERT_TRUE(Shown(GalleryRead(out / "s.gal")));
    ASSERT_TRUE(Entry("Zed--c.png"));
    EXPECT_EQ(Entry("Zed--c.png")->AnimStart, 0);
}

TEST_F(GalleryTest, DamagedFilesKeepWhatWasUnpacked)
{
    ScriptedUi ui;
    const std::string index = ReadAll(store / "headers.dat");
    // Three images announced, two present.
    std::string g = MakeGallery("D", 2, {{"a.png", Png("a1")}, {"b.png", Png("b1")}});
    PutLe(g, 104, 3);
    WriteAll(out / "d.gal", g);
    EXPECT_FALSE(Shown(GalleryRead(out / "d.gal")));
    EXPECT_EQ(ui.Last("error"), GAL_DAMAGED);
    EXPECT_EQ(ReadAll(store / "D--b.png"), Png("b1"));
    EXPECT_TRUE(Entry("D--b.png"));
    EXPECT_EQ(ReadAll(store / "headers.dat"), index);  // a failed open does not save the index

    auto damaged = [&](size_t at, int32_t value) {
        std::string d = MakeGallery("Q", 2, {{"a.png", "a1"}});
        PutLe(d, at, value);
        WriteAll(out / "q.gal", d);
        ui.answers = {"Y"};
        EXPECT_FALSE(Shown(GalleryRead(out / "q.gal")));
        EXPECT_EQ(ui.Last("error"), GAL_DAMAGED);
    };
    damaged(108, 2);            // record size below 4
    damaged(108 + 132, -5);     // negative data length
    damaged(108 + 132, 1000);   // data beyond the end of the file
    damaged(108 + 4, 240);     // name length byte 240
    damaged(0, 4);              // header size below the header
}

TEST_F(GalleryTest, LargeImageEndsTheUnpackingQuietly)
{
    ScriptedUi ui;
    std::string g = MakeGallery("L", 2, {{"a.png", Png("small")}, {"b.png", Png("x")}, {"c.png", Png("y")}});
    PutLe(g, 108 + 148 + 8 + 5 + 132, 204800);
    WriteAll(out / "l.gal", g);
    ASSERT_TRUE(Shown(GalleryRead(out / "l.gal")));
    EXPECT_TRUE(fs::exists(store / "L--a.png"));
    EXPECT_FALSE(fs::exists(store / "L--b.png"));
    EXPECT_EQ(ui.Count("error"), 0);
    EXPECT_EQ(ui.Last("info"), "Images extracted under prefix \"L\".");
}

TEST_F(GalleryTest, RecordsWithoutAPictureStayPackedWhateverTheirName)
{
    ScriptedUi ui;
    WriteAll(out / "n.gal", MakeGallery("N", 2, {{"fake.png", "not a picture"}, {"empty.png", ""}, {"real.png", Png("r")}}));
    const Outcome o = GalleryRead(out / "n.gal");
    ASSERT_TRUE(Shown(o));
    EXPECT_FALSE(fs::exists(store / "N--fake.png"));
    EXPECT_FALSE(fs::exists(store / "N--empty.png"));
    EXPECT_FALSE(Entry("N--fake.png"));
    EXPECT_EQ(ReadAll(store / "N--real.png"), Png("r"));
    ASSERT_EQ(o.Skipped.size(), 1u);
    EXPECT_EQ(o.Skipped[0], "Records that hold no PNG image, left out: 2");
}

TEST_F(GalleryTest, NamesFromTheFileOrThePromptStayInTheStore)
{
    ScriptedUi ui;
    WriteAll(out / "evil.gal", MakeGallery("../../x", 2, {{"../../../etc/passwd", Png("p")}, {"..", Png("d")}}));
    ASSERT_TRUE(Shown(GalleryRead(out / "evil.gal")));
    for (const std::string& f : StoreFiles()) EXPECT_EQ(f.find('/'), std::string::npos);
    EXPECT_FALSE(fs::exists(out.path.parent_path() / "x--passwd"));
    int inside = 0;
    for (auto& e : fs::recursive_directory_iterator(store.path))
        inside += e.is_regular_file() && e.path().filename() != STORE_LOCK_FILE;
    EXPECT_EQ(inside, 4 + 2 + 1);  // four images, two unpacked, headers.dat
    for (const ImageEntry* e : Images->Items) EXPECT_TRUE(IsSafeStoredName(EntryName(*e))) << EntryName(*e);

    // The typed prefix is made safe as well.
    ui.answers = {"N"};
    ui.prompts = {std::string("../../up")};
    WriteAll(out / "t.gal", MakeGallery("Sea", 2, {{"a.png", Png("t")}}));
    ASSERT_TRUE(Shown(GalleryRead(out / "t.gal")));
    EXPECT_EQ(ui.Last("info"), "Images extracted under prefix \".._.._up\".");
    EXPECT_TRUE(fs::exists(store / ".._.._up--a.png"));
}

TEST_F(GalleryTest, PrefixClashQuestion)
{
    ScriptedUi ui;
    Put("Seaside--x.png", Png("s"), 7, 0, 0);
    WriteAll(out / "c.gal", MakeGallery("Sea", 2, {{"Dawn.png", Png("new dawn")}}));
    ui.answers = {"C"};
    EXPECT_FALSE(Shown(GalleryRead(out / "c.gal")));
    EXPECT_EQ(ui.Count("yesnocancel"), 1);
    EXPECT_EQ(ReadAll(store / "Sea--Dawn.png"), Png("dawn-bytes\x01\x02"));
    ui.answers = {"Y"};
    ASSERT_TRUE(Shown(GalleryRead(out / "c.gal")));
    EXPECT_EQ(ReadAll(store / "Sea--Dawn.png"), Png("new dawn"));
    EXPECT_EQ(Entry("Sea--Dawn.png")->FileSize, 8 + 8);
    // The same image spelt in other letters replaces it: never two files for one image.
    WriteAll(out / "u.gal", MakeGallery("SEA", 2, {{"DAWN.png", Png("loud dawn")}}));
    ui.answers = {"Y"};
    ASSERT_TRUE(Shown(GalleryRead(out / "u.gal")));
    EXPECT_EQ(ReadAll(store / "Sea--Dawn.png"), Png("loud dawn"));
    EXPECT_FALSE(fs::exists(store / "SEA--DAWN.png"));
    // An override prefix is used instead of the gallery's.
    ASSERT_TRUE(Shown(GalleryRead(out / "c.gal", "Other")));
    EXPECT_EQ(ReadAll(store / "Other--Dawn.png"), Png("new dawn"));

    // An empty prefix is a prefix: it begins every name, and "Yes" (also after an empty answer at
    // the prompt) unpacks under it.
    WriteAll(out / "e.gal", MakeGallery("", 2, {{"Dawn.png", Png("empty")}}));
    ui.answers = {"Y"};
    ASSERT_TRUE(Shown(GalleryRead(out / "e.gal")));
    EXPECT_EQ(ReadAll(store / "--Dawn.png"), Png("empty"));
    ui.answers = {"N", "Y"};
    ui.prompts = {std::string()};
    ASSERT_TRUE(Shown(GalleryRead(out / "c.gal")));
    EXPECT_EQ(ui.Last("info"), "Images extracted under prefix \"\".");
    EXPECT_EQ(ReadAll(store / "--Dawn.png"), Png("new dawn"));
}
