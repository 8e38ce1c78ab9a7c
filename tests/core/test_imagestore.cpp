#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "core/ImageStore.h"
#include "image/ImgBasic.h"
#include "core/Settings.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void Put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t Get32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// One raw 152-byte record.
std::string Record(const std::string& name, int positions, int fromLogo = 0, int animStart = 0, int lengthByte = -1)
{
    std::string r;
    Put32(r, 152);
    std::string n(128, '\0');
    n[0] = static_cast<char>(lengthByte >= 0 ? lengthByte : static_cast<int>(name.size()));
    std::memcpy(&n[1], name.data(), std::min<size_t>(name.size(), 127));
    r += n;
    Put32(r, positions);
    Put32(r, 0);
    Put32(r, 999);  // file size, refreshed by the scan
    Put32(r, fromLogo);
    Put32(r, animStart);
    return r;
}

std::string Header(uint32_t headerSize, uint32_t version, uint32_t count)
{
    std::string h;
    Put32(h, headerSize);
    Put32(h, version);
    Put32(h, count);
    return h;
}

struct ListHolder {
    ImageList* list = ImageListCreate();
    ~ListHolder() { ImageListFree(list); }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> v;
        for (ImageEntry* e : list->Items) v.push_back(EntryName(*e));
        return v;
    }
    ImageEntry* Get(const std::string& name) const
    {
        int32_t i = ImageListFind(list, name);
        return i == Undef ? nullptr : list->Items[i];
    }
};

}  // namespace

TEST(ImageStore, EntryLayoutMatchesIndexFile)
{
    EXPECT_EQ(sizeof(ImageEntry), 152u);
    EXPECT_EQ(offsetof(ImageEntry, Name), 4u);
    EXPECT_EQ(offsetof(ImageEntry, Positions), 132u);
    EXPECT_EQ(offsetof(ImageEntry, FileSize), 140u);
    EXPECT_EQ(offsetof(ImageEntry, FromLogoFile), 144u);
    EXPECT_EQ(offsetof(ImageEntry, AnimStart), 148u);
    ImageEntry e;
    std::memset(&e, 0x55, sizeof e);
    ImageEntryInit(e);
    EXPECT_EQ(e.RecordSize, 152u);
    EXPECT_EQ(e.Positions, 0);
    EXPECT_EQ(EntryName(e), "");
    EntrySetName(e, std::string(200, 'x'));
    EXPECT_EQ(EntryName(e).size(), 127u);
}

TEST(ImageStore, ListOperations)
{
    ScriptedUi ui;
    ListHolder h;
    for (const char* n : {"b--two.png", "A--one.png", "c--three.png"}) EntrySetName(*ImageListAdd(h.list), n);
    h.list->Items[0]->FileSize = 100;
    h.list->Items[1]->FileSize = 2000000000;
    h.list->Items[2]->FileSize = 2000000000;
    EXPECT_DOUBLE_EQ(ImageListTotalSize(h.list), 4000000100.0);  // no 32-bit overflow
    ImageListSort(h.list);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"A--one.png", "b--two.png", "c--three.png"}));
    EXPECT_EQ(ImageListFind(h.list, "B--TWO.PNG"), 1);
    EXPECT_EQ(ImageListFind(h.list, "missing.png"), Undef);
    EXPECT_EQ(ImageListFindOrAdd(h.list, "a--ONE.png"), h.list->Items[0]);
    ImageEntry* fresh = ImageListFindOrAdd(h.list, "new.png");
    EXPECT_EQ(ImageListCount(h.list), 4);
    EXPECT_EQ(EntryName(*fresh), "");
    ImageListDelete(h.list, 3);

    EXPECT_TRUE(ImageListRename(h.list, "c--THREE.png", "d--four.png"));
    EXPECT_FALSE(ImageListRename(h.list, "nothing.png", "x.png"));
    EXPECT_EQ(ImageListFind(h.list, "d--four.png"), 2);

    EXPECT_TRUE(ui.log.empty());
    EXPECT_FALSE(ImageListCheckIndex(h.list, 5, false));
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(ImageListGet(h.list, 5), nullptr);
    EXPECT_EQ(ui.Last("error"), "List index violation: 5");
    ImageListDelete(h.list, -1);
    EXPECT_EQ(ui.Last("error"), "List index violation: -1");
    EXPECT_EQ(ImageListCount(h.list), 3);
}

TEST(ImageStore, IndexRoundTripIsByteExact)
{
    TempDir dir;
    ListHolder h;
    ImageEntry* e = ImageListAdd(h.list);
    EntrySetName(*e, "zeta.png");
    e->Positions = 5;
    e->FromLogoFile = -1;
    e->AnimStart = 236;
    e->FileSize = 1234;
    e = ImageListAdd(h.list);
    EntrySetName(*e, "Alpha--one.png");
    e->Positions = 2;
    WriteImageIndex(h.list, dir.str());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "a temporary file stayed";
    const std::string bytes = ReadFile(dir / "headers.dat");
    ASSERT_EQ(bytes.size(), 12u + 2 * 152u);
    EXPECT_EQ(Get32(bytes, 0), 12u);
    EXPECT_EQ(Get32(bytes, 4), 1u);
    EXPECT_EQ(Get32(bytes, 8), 2u);
    // Sorted by name before writing.
    EXPECT_EQ(bytes.substr(17, 14), "Alpha--one.png");
    EXPECT_EQ(Get32(bytes, 12), 152u);
    EXPECT_EQ(Get32(bytes, 12 + 152 + 132), 5u);
    EXPECT_EQ(Get32(bytes, 12 + 152 + 140), 1234u);
    EXPECT_EQ(Get32(bytes, 12 + 152 + 144), 0xFFFFFFFFu);
    EXPECT_EQ(Get32(bytes, 12 + 152 + 148), 236u);

    ListHolder back;
    ReadImageIndex(back.list, dir / "headers.dat");
    ASSERT_EQ(back.Names(), (std::vector<std::string>{"Alpha--one.png", "zeta.png"}));
    EXPECT_EQ(std::memcmp(back.list->Items[1], h.list->Items[1], 152), 0);
}

TEST(ImageStore, MalformedHeaderGivesEmptyIndexAndRefreshListsEveryPng)
{
    TempDir dir;
    WriteFile(dir / "a.png", "x");
    WriteFile(dir / "B.PNG", "yy");
    WriteFile(dir / "notes.txt", "z");
    fs::create_directory(dir / "folder.png");
    const std::string entries = Record("a.png", 1) + Record("B.PNG", 2);
    const std::vector<std::string> bad = {
        Header(4, 1, 2) + entries,        // header size below 8
        Header(8, 1, 2) + entries,        // header too short to hold the count
        Header(100000, 1, 2) + entries,   // header larger than the file
        Header(12, 2, 2) + entries,       // unknown version
        std::string("\x0c\x00", 2),       // shorter than its header
    };
    for (const std::string& content : bad) {
        WriteFile(dir / "headers.dat", content);
        ListHolder h;
        ReadImageIndex(h.list, dir / "headers.dat");
        EXPECT_EQ(ImageListCount(h.list), 0);
        RefreshImageList(h.list, dir.str());
        ASSERT_EQ(h.Names(), (std::vector<std::string>{"a.png", "B.PNG"}));
        EXPECT_EQ(h.Get("a.png")->Positions, 7);
        EXPECT_EQ(h.Get("B.PNG")->Positions, 7);
        EXPECT_EQ(h.Get("B.PNG")->FileSize, 2);
    }
}

TEST(ImageStore, CountBeyondFileEndAndLongerHeader)
{
    TempDir dir;
    WriteFile(dir / "headers.dat", Header(12, 1, 1000000) + Record("one.png", 1) + Record("two.png", 2) + "partial");
    ListHolder h;
    ReadImageIndex(h.list, dir / "headers.dat");
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"one.png", "two.png"}));

    // A longer header from a later version: only 12 bytes are read, the entries follow it.
    std::string longer = Header(20, 1, 1) + std::string(8, '\x7f') + Record("three.png", 4);
    WriteFile(dir / "headers.dat", longer);
    ReadImageIndex(h.list, dir / "headers.dat");
    ASSERT_EQ(h.Names(), (std::vector<std::string>{"three.png"}));
    EXPECT_EQ(h.list->Items[0]->Positions, 4);

    // A missing index gives an empty list.
    fs::remove(dir / "headers.dat");
    ReadImageIndex(h.list, dir / "headers.dat");
    EXPECT_EQ(ImageListCount(h.list), 0);
}

TEST(ImageStore, RefreshReconcilesIndexWithFolder)
{
    TempDir dir;
    WriteFile(dir / "Keep--me.png", "12345");
    WriteFile(dir / "Logo--import.png", "1");
    WriteFile(dir / "Added--by-hand.png", "123");
    WriteFile(dir / "headers.dat", Header(12, 1, 3) + Record("Keep--me.png", 2) + Record("Gone--away.png", 1) +
                                       Record("LOGO--IMPORT.PNG", 4, -1, 240));
    ListHolder h;
    RefreshImageList(h.list, dir.str());
    ASSERT_EQ(h.Names(), (std::vector<std::string>{"Added--by-hand.png", "Keep--me.png", "Logo--import.png"}));
    EXPECT_EQ(h.Get("Keep--me.png")->Positions, 2);
    EXPECT_EQ(h.Get("Keep--me.png")->FileSize, 5);
    EXPECT_EQ(h.Get("Added--by-hand.png")->Positions, 7);
    // The index spelt the name in other letter case: the file's spelling is kept with the entry's data.
    ImageEntry* imported = h.Get("Logo--import.png");
    EXPECT_EQ(EntryName(*imported), "Logo--import.png");
    EXPECT_EQ(imported->FromLogoFile, -1);
    EXPECT_EQ(imported->AnimStart, 240);

    // Written back and refreshed again, nothing changes.
    WriteImageIndex(h.list, dir.str());
    ListHolder again;
    RefreshImageList(again.list, dir.str());
    EXPECT_EQ(again.Names(), h.Names());
    EXPECT_EQ(again.Get("Keep--me.png")->Positions, 2);
}

TEST(ImageStore, NamesDifferingOnlyInCaseStayTwoImages)
{
    // A folder copied by hand from a case-sensitive file system.
    TempDir dir;
    WriteFile(dir / "P--Moon.png", "big moon");
    WriteFile(dir / "P--moon.png", "small");
    WriteFile(dir / "headers.dat", Header(12, 1, 2) + Record("P--moon.png", 2) + Record("P--Moon.png", 4));
    ListHolder h;
    RefreshImageList(h.list, dir.str());
    ASSERT_EQ(h.Names(), (std::vector<std::string>{"P--Moon.png", "P--moon.png"}));
    EXPECT_EQ(h.Get("P--moon.png")->Positions, 2);
    EXPECT_EQ(h.Get("P--Moon.png")->Positions, 4);
    EXPECT_EQ(h.Get("P--Moon.png")->FileSize, 8);
    // Every look-up acts on the name as given; another spelling still finds one of them.
    EXPECT_EQ(EntryName(*h.list->Items[ImageListFind(h.list, "P--moon.png")]), "P--moon.png");
    EXPECT_EQ(EntryName(*h.list->Items[ImageListFind(h.list, "P--Moon.png")]), "P--Moon.png");
    EXPECT_NE(ImageListFind(h.list, "p--MOON.png"), Undef);
}

TEST(ImageStore, TheWindowKeepsAnotherProgramsChange)
{
    TempDir dir;
    SetStorageDir(dir.str());
    WriteFile(dir / "A--one.png", "1");
    WriteFile(dir / "A--two.png", "22");
    StoreLoad();
    // Another program changes the positions of one image and writes the index.
    ListHolder other;
    RefreshImageList(other.list, dir.str());
    other.Get("A--two.png")->Positions = 4;
    WriteImageIndex(other.list, dir.str());
    // The window writes its list later: it reads the index again first.
    StoreWriteIndex();
    ListHolder after;
    ReadImageIndex(after.list, dir / "headers.dat");
    ASSERT_TRUE(after.Get("A--two.png"));
    EXPECT_EQ(after.Get("A--two.png")->Positions, 4);
    StoreFree();
}

TEST(ImageStore, NamesFromIndexNeverLeaveTheFolder)
{
    TempDir root;
    const std::string store = root / "store";
    fs::create_directory(store);
    WriteFile(root / "evil.png", "outside");
    WriteFile(store + "/headers.dat",
              Header(12, 1, 6) + Record("../evil.png", 1) + Record("..", 1) + Record(".", 1) + Record("", 1) +
                  Record("a\\..\\..\\b.png", 1) + Record(std::string(127, 'n'), 1, 0, 0, 255));
    ListHolder h;
    ReadImageIndex(h.list, store + "/headers.dat");
    for (const std::string& n : h.Names()) {
        EXPECT_EQ(n.find('/'), std::string::npos) << n;
        EXPECT_EQ(n.find('\\'), std::string::npos) << n;
        EXPECT_NE(n, "..");
        EXPECT_NE(n, ".");
        EXPECT_FALSE(n.empty());
        EXPECT_LE(n.size(), 127u);
    }
    RefreshImageList(h.list, store + "/");
    EXPECT_EQ(ImageListCount(h.list), 0);
    EXPECT_TRUE(fs::exists(root / "evil.png"));
    EXPECT_FALSE(IsSafeStoredName(".."));
    EXPECT_FALSE(IsSafeStoredName("a/b.png"));
    EXPECT_TRUE(IsSafeStoredName("Sea--Dawn.png"));
}

TEST(ImageStore, RenameImageNeverReplacesAnotherImage)
{
    TempDir dir;
    SetStorageDir(dir.str());
    WriteFile(dir / "a--one.png", "first");
    WriteFile(dir / "b--two.png", "second");
    ImageListFree(Images);
    Images = ImageListCreate();
    RefreshImageList(Images, dir.str());

    EXPECT_FALSE(RenameImage("a--one.png", "b--two.png"));
    EXPECT_EQ(ReadFile(dir / "b--two.png"), "second");
    EXPECT_FALSE(RenameImage("a--one.png", "../out.png"));
    EXPECT_FALSE(RenameImage("missing.png", "x.png"));

    EXPECT_TRUE(RenameImage("a--one.png", "A--One.png"));  // letter case only
    EXPECT_EQ(ReadFile(dir / "A--One.png"), "first");
    EXPECT_EQ(EntryName(*Images->Items[ImageListFind(Images, "a--one.png")]), "A--One.png");

    EXPECT_TRUE(RenameImage("A--One.png", "c--three.png"));
    EXPECT_FALSE(fs::exists(dir / "A--One.png"));
    EXPECT_NE(ImageListFind(Images, "c--three.png"), Undef);
    ImageListFree(Images);
}

TEST(ImageStore, StoredImagesRoundTripAsPng)
{
    TempDir dir;
    Image img;
    ImgAlloc(img, 6, 4, 8);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = static_cast<uint8_t>(i * 7);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = static_cast<uint8_t>(255 - i);
    ASSERT_TRUE(SaveStoredImage(dir / "Sea--Dawn.bmp", img));  // the extension is forced to .png
    EXPECT_TRUE(fs::exists(dir / "Sea--Dawn.png"));
    EXPECT_FALSE(fs::exists(dir / "Sea--Dawn.bmp"));
    Image back;
    ASSERT_TRUE(LoadStoredImage(dir / "Sea--Dawn", back));
    ASSERT_EQ(back.Width, 6);
    ASSERT_EQ(back.Height, 4);
    ASSERT_EQ(back.Bpp, 8);
    EXPECT_EQ(std::memcmp(back.Data, img.Data, 24), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "a temporary file stayed";
    EXPECT_EQ(back.Pal[3][0], 252);
    ImgFree(back);

    // A damaged or missing file is a plain false, never an exception.
    WriteFile(dir / "Broken.png", "\x89PNG\r\n\x1a\n garbage");
    EXPECT_FALSE(LoadStoredImage(dir / "Broken.png", back));
    EXPECT_FALSE(LoadStoredImage(dir / "Missing.png", back));
    EXPECT_FALSE(SaveStoredImage(dir / "no/such/folder/x.png", img));
    ImgFree(back);
    ImgFree(img);
}

TEST(ImageStore, RandomIndexBytesNeverBreakTheList)
{
    TempDir dir;
    WriteFile(dir / "real.png", "x");
    std::mt19937 rng(12345);
    for (int round = 0; round < 80; ++round) {
        // A valid header with damaged records, or plain noise.
        std::string bytes = (round % 2) ? Header(12 + (rng() % 3) * 4, 1, rng() % 50) : std::string();
        const size_t n = rng() % 2000;
        for (size_t i = 0; i < n; ++i) bytes += static_cast<char>(rng() % 4 == 0 ? '.' : rng() % 256);
        WriteFile(dir / "headers.dat", bytes);
        ListHolder h;
        RefreshImageList(h.list, dir.str());
        ASSERT_EQ(h.Names(), std::vector<std::string>{"real.png"});
    }
}
