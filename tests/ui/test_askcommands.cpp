// The window's asking versions of Add and the gallery commands: their dialogs and questions.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/AddImages.h"
#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"
#include "ui/AskCommands.h"

namespace fs = std::filesystem;

namespace {

// Data that passes for a picture: only records that begin so are packed.
std::string Png(const std::string& filler) { return std::string("\x89PNG\r\n\x1A\n", 8) + filler; }

std::string ShortText(const std::string& text, size_t size)
{
    std::string s(size, '\0');
    s[0] = static_cast<char>(text.size());
    std::memcpy(&s[1], text.data(), text.size());
    return s;
}

// Shows the outcome as the window does, so the checks read what the user sees.
void Shown(const Outcome& o) { OutcomeShow(o); }

class AskTest : public ::testing::Test {
protected:
    TempDir store, out, src;
    std::string savedGalDir = GalDir, savedPrefix = DefPrefix;
    int32_t savedMode = ResizeMode;
    void SetUp() override
    {
        SetStorageDir(store.str());
        ImageListFree(Images);
        Images = ImageListCreate();
        for (const char* name : {"Plain.png", "Hill--Top.png"}) {
            WriteWholeFile(store / name, Png(name));
            ImageEntry* e = ImageListFindOrAdd(Images, name);
            EntrySetName(*e, name);
            e->FileSize = static_cast<int32_t>(Png(name).size());
        }
        ImageListSort(Images);
        // The index on disk is what a command reads when it takes the store.
        WriteImageIndex(Images, store.str());
        DefPrefix = "Pre";
        ResizeMode = RM_BORDER;
        OverwriteChoice = OC_NONE;
    }
    void TearDown() override
    {
        ImageListFree(Images);
        GalDir = savedGalDir;
        DefPrefix = savedPrefix;
        ResizeMode = savedMode;
    }
};

}  // namespace

TEST(AddSysToFilter, InsertsTheLogoFileEntries)
{
    std::string f = "All supported formats|*.gif;*.bmp|BMP, Windows|*.bmp|GIF, Graphics|*.gif|Any file (*.*)|*.*";
    AddSysToFilter(f);
    EXPECT_EQ(f, "All supported formats|*.gif;*.bmp;*.sys|BMP, Windows|*.bmp|GIF, Graphics|*.gif"
                 "|SYS Files|*.sys|Any file (*.*)|*.*");
}

TEST_F(AskTest, AddUsesTheDialogs)
{
    ScriptedUi ui;
    Image pic;
    ImgAlloc(pic, 40, 30, 24);
    std::memset(pic.Data, 0xFF, static_cast<size_t>(pic.Size));
    ImgSave(src / "p.bmp", pic);
    ImgFree(pic);
    const int before = ImageListCount(Images);
    ui.multiOpenFiles = {{src / "p.bmp"}};
    ui.resizeModes = {false};
    OverwriteChoice = OC_ABORT;  // left over from an earlier batch
    ImagesAddAsk();
    EXPECT_EQ(OverwriteChoice, OC_NONE);
    EXPECT_EQ(ui.Last("multiopen"), ADD_DIALOG_TITLE);
    EXPECT_EQ(ImageListCount(Images), before);  // resize dialog cancelled
    ui.multiOpenFiles = {{src / "p.bmp"}};
    ImagesAddAsk();
    EXPECT_EQ(ImageListCount(Images), before + 1);
}

TEST_F(AskTest, CreateGalleryFlow)
{
    ScriptedUi ui;
    const std::vector<std::string> one = {"Plain.png"}, two = {"Plain.png", "Hill--Top.png"};
    Shown(GalleryCreateAsk(one));
    EXPECT_EQ(ui.Last("warning"), GAL_TOO_FEW);
    EXPECT_EQ(ui.Count("save"), 0);

    ui.saveFiles = {""};  // Cancel
    Shown(GalleryCreateAsk(two));
    EXPECT_EQ(ui.Last("save"), "Create New Gallery");
    EXPECT_EQ(ui.Count("prompt"), 0);

    // A 64-character prefix is refused, 63 accepted; ".gal" is added.
    ui.saveFiles = {out / "Mine", out / "Mine"};
    ui.prompts = {std::string(64, 'p'), std::string(63, 'p')};
    Shown(GalleryCreateAsk(two));
    EXPECT_EQ(ui.Last("warning"), GAL_INVALID_PREFIX);
    EXPECT_EQ(ui.Last("prompt"), "Create Gallery|Enter gallery image prefix|Mine");
    EXPECT_FALSE(fs::exists(out / "Mine.gal"));
    EXPECT_EQ(GalDir, out.str());
    ui.answers = {"Y"};  // not asked: the file does not exist yet
    Shown(GalleryCreateAsk(two));
    ASSERT_TRUE(fs::exists(out / "Mine.gal"));
    EXPECT_EQ(ReadWholeFile(out / "Mine.gal").substr(40, 64), ShortText(std::string(63, 'p'), 64));

    // The file exists now: No stops; Yes and a prompt of "--" gives MyPicture.
    ui.answers.clear();
    ui.saveFiles = {out / "Mine.gal"};
    Shown(GalleryCreateAsk(two));
    EXPECT_EQ(ui.Last("yesno"), GAL_EXISTS);
    EXPECT_EQ(ui.log.back().defaultButton, 2);
    ui.saveFiles = {out / "Mine.gal"};
    ui.answers = {"Y"};
    ui.prompts = {std::string(" -- ")};
    Shown(GalleryCreateAsk(two));
    EXPECT_EQ(ReadWholeFile(out / "Mine.gal").substr(40, 64), ShortText("MyPicture", 64));

    // The open command's dialog.
    ui.openFiles = {""};
    Shown(GalleryOpenAsk());
    EXPECT_EQ(ui.Last("open"), "Open a Gallery");
}
