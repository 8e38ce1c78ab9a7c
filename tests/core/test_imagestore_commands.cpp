#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreCommands.h"
#include "support/ScriptedUi.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class StoreCommandsTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        SetStorageDir(dir.str());
        for (const char* n : {"Sea--Dawn.png", "Sea--Dusk.png", "Hill--Top.png", "Plain.png"}) Put(n, n);
        ImageListFree(Images);
        Images = ImageListCreate();
        RefreshImageList(Images, dir.str());
    }
    void TearDown() override { ImageListFree(Images); }
    void Put(const std::string& name, const std::string& content)
    {
        std::ofstream f(dir / name, std::ios::binary);
        f << content;
    }
    std::string Read(const std::string& name)
    {
        std::ifstream f(dir / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> Names()
    {
        std::vector<std::string> v;
        for (ImageEntry* e : Images->Items) v.push_back(EntryName(*e));
        return v;
    }
};

}  // namespace

TEST_F(StoreCommandsTest, DeleteQuestionAndDeletion)
{
    EXPECT_EQ(StoreDeleteQuestion({"Sunset--Sea.png"}), "Delete Sunset--Sea.png?");
    EXPECT_EQ(StoreDeleteQuestion({"a.png", "b.png", "c.png"}), "Delete 3 selected logos?");
    EXPECT_EQ(StoreDeleteQuestion({}), "");

    // A folder in the way makes one deletion fail; the other still runs.
    ImageEntry* stuck = ImageListAdd(Images);
    EntrySetName(*stuck, "Stuck.png");
    fs::create_directory(dir / "Stuck.png");
    std::ofstream(dir / "Stuck.png/inner") << "x";
    StoreResult r = StoreDeleteImages({"Sea--Dawn.png", "Stuck.png"});
    EXPECT_EQ(r.Succeeded, 1);
    EXPECT_EQ(r.Failed, 1);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Kind, SM_ERROR);
    EXPECT_EQ(r.Messages[0].Text, "Couldn't delete image file: \"Stuck.png\"");
    EXPECT_FALSE(fs::exists(dir / "Sea--Dawn.png"));
    EXPECT_EQ(ImageListFind(Images, "Sea--Dawn.png"), Undef);
    EXPECT_NE(ImageListFind(Images, "Stuck.png"), Undef);
}

TEST_F(StoreCommandsTest, RenameRules)
{
    EXPECT_EQ(StoreRenameProposal("Sea--Dawn.png"), "Sea--Dawn");
    // Only letter case differs: nothing happens.
    StoreResult r = StoreRenameImage("Sea--Dawn.png", "sea--DAWN");
    EXPECT_FALSE(r.Changed);
    EXPECT_TRUE(r.Messages.empty());
    EXPECT_TRUE(fs::exists(dir / "Sea--Dawn.png"));

    r = StoreRenameImage("Sea--Dawn.png", " sea--dusk ");
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Text, "There already exists an image with that name, please select another one.");
    EXPECT_EQ(Read("Sea--Dusk.png"), "Sea--Dusk.png");

    // Nothing left to name the file: no hidden ".png" appears.
    for (const char* empty : {"", "   ", "--", " ---- "}) {
        r = StoreRenameImage("Sea--Dawn.png", empty);
        ASSERT_EQ(r.Messages.size(), 1u) << empty;
        EXPECT_EQ(r.Messages[0].Text, RENAME_EMPTY);
        EXPECT_FALSE(r.Changed);
        EXPECT_TRUE(fs::exists(dir / "Sea--Dawn.png"));
    }

    r = StoreRenameImage("", "x");
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Kind, SM_WARNING);
    EXPECT_EQ(r.Messages[0].Text, "No image selected for renaming.");

    // Forbidden characters become "_", "--" stays, and the list is sorted again.
    r = StoreRenameImage("Sea--Dawn.png", " A:b--c/d ");
    EXPECT_TRUE(r.Changed);
    EXPECT_EQ(r.SelectName, "A_b--c_d.png");
    EXPECT_EQ(Read("A_b--c_d.png"), "Sea--Dawn.png");
    EXPECT_EQ(Names().front(), "A_b--c_d.png");
}

TEST_F(StoreCommandsTest, ChangePrefixCountsAndNeverOverwrites)
{
    EXPECT_EQ(StorePrefixProposal("Sea--Dawn.png"), "Sea");
    EXPECT_EQ(StorePrefixProposal("Plain.png"), "");
    Put("New--Dusk.png", "occupied");
    ImageListFree(Images);
    Images = ImageListCreate();
    RefreshImageList(Images, dir.str());

    StoreResult r = StoreChangePrefix({"Sea--Dawn.png", "Sea--Dusk.png", "Plain.png"}, " New-- ");
    EXPECT_EQ(r.Succeeded, 2);
    EXPECT_EQ(r.Failed, 1);
    ASSERT_EQ(r.Messages.size(), 1u);
    // One message with both counts and the name that failed, with the reason.
    EXPECT_EQ(r.Messages[0].Kind, SM_ERROR);
    EXPECT_EQ(r.Messages[0].Text, "Images renamed: 2\r\nImages that couldn't be renamed: 1\r\n"
                                  "Sea--Dusk.png: an image named New--Dusk.png exists already");
    EXPECT_EQ(r.SelectName, "New--Dawn.png");
    EXPECT_EQ(Read("New--Plain.png"), "Plain.png");
    EXPECT_EQ(Read("New--Dusk.png"), "occupied");
    EXPECT_EQ(Read("Sea--Dusk.png"), "Sea--Dusk.png");

    r = StoreChangePrefix({"Hill--Top.png"}, "");
    EXPECT_EQ(r.Messages[0].Text, "Images renamed: 1");
    EXPECT_TRUE(fs::exists(dir / "MyPicture--Top.png"));
    r = StoreChangePrefix({}, "x");
    EXPECT_EQ(r.Messages[0].Text, "No images selected.");
}

TEST_F(StoreCommandsTest, Positions)
{
    EXPECT_EQ(StoreSetPositions({"Sea--Dawn.png", "plain.PNG", "nothing.png"}, 5), 2);
    EXPECT_EQ(Images->Items[ImageListFind(Images, "Plain.png")]->Positions, 5);
    Images->Items[ImageListFind(Images, "Hill--Top.png")]->Positions = 2;
    EXPECT_EQ(StoreHighlightedPositions({"Sea--Dawn.png", "Hill--Top.png"}), 7);
    EXPECT_EQ(StoreHighlightedPositions({}), 0);
}
