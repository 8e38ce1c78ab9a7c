// kvs commands that cannot do what they were asked: exit status 1 with the error text on
// standard error, no success text, and the files they were to replace byte for byte as before.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

using Result = RunResult;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class KvsOutcomes : public ::testing::Test {
protected:
    TempEnv env;
    std::string store, startup, wait, off;
    std::vector<std::string> frozen;

    void SetUp() override
    {
        store = env.root.string() + "/drive_c/Program Files/KvsLogos/";
        startup = env.root.string() + "/drive_c/logo.sys";
        wait = env.win + "logow.sys";
        off = env.win + "logos.sys";
        fs::create_directories(store);
    }
    void TearDown() override
    {
        for (const std::string& f : frozen) std::system(("chattr -i '" + f + "' 2>/dev/null").c_str());
    }
    Result Kvs(const std::string& args) { return RunProgram(env, "kvs", args); }
    // A 2 x 2 bitmap of shade added to the store as Sea--NAME.png.
    void AddPicture(const std::string& name = "Dawn", char shade = 'd')
    {
        const std::string bmp = env.root.string() + "/" + name + ".bmp";
        std::string head("BM\x46\0\0\0\0\0\0\0\x36\0\0\0" "\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0"
                         "\0\0\0\0\x10\0\0\0",
                         38);
        const std::string row = std::string(6, shade) + std::string(2, '\0');
        TempEnv::Write(bmp, head + std::string(16, '\0') + row + row);
        ASSERT_EQ(Kvs("add --prefix Sea --clash overwrite '" + bmp + "'").status, 0);
    }
    // Nothing can be created, renamed or removed in folder, not even by root.
    bool Freeze(const std::string& folder)
    {
        if (std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0) return false;
        frozen.push_back(folder);
        return true;
    }
    void Thaw(const std::string& folder) { std::system(("chattr -i '" + folder + "' 2>/dev/null").c_str()); }
    void OldLogos()
    {
        TempEnv::Write(startup, "old startup");
        TempEnv::Write(wait, "old wait");
        TempEnv::Write(off, "old off");
    }
    void ExpectOldLogos()
    {
        EXPECT_EQ(TempEnv::Read(startup), "old startup");
        EXPECT_EQ(TempEnv::Read(wait), "old wait");
        EXPECT_EQ(TempEnv::Read(off), "old off");
    }
};

}  // namespace

TEST_F(KvsOutcomes, SetFailsWhenTheLogoCannotBeBuiltBackedUpOrWritten)
{
    AddPicture();
    OldLogos();
    const std::string png = store + "Sea--Dawn.png", good = TempEnv::Read(png);

    TempEnv::Write(png, "damaged");
    Result r = Kvs("set Sea--Dawn --startup");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't load the stored image \"Sea--Dawn.png\".\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(env.win + "logos.bak"));  // nothing to back up for a logo not built
    TempEnv::Write(png, good);

    // Without its backup the old logo would be lost: it is not replaced.
    TempEnv::Write(env.win + "logos.bak", "a plain file");
    r = Kvs("set Sea--Dawn --startup --wait");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't back up \"" + startup + "\"; the logo was not replaced.\nCouldn't back up \"" + wait +
                         "\"; the logo was not replaced.\n");
    EXPECT_EQ(r.out, "");
    ExpectOldLogos();
    fs::remove(env.win + "logos.bak");

    if (!Freeze(env.root.string() + "/drive_c")) GTEST_SKIP() << "no immutable folders here";
    r = Kvs("set Sea--Dawn --startup --off");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, startup)) << r.err;
    // What could be written is reported as such, and only that.
    EXPECT_EQ(r.out, "Sea--Dawn.png set as logo: Turn Off (" + off + ")\n");
    EXPECT_EQ(TempEnv::Read(startup), "old startup");
}

TEST_F(KvsOutcomes, ShuffleChangeAndInstSayWhenNothingWasWritten)
{
    OldLogos();
    Result r = Kvs("shuffle");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "There are no images in the store.\n");
    EXPECT_EQ(r.out, "");
    r = Kvs("inst");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "There are no images in the store.\n")) << r.err;
    EXPECT_FALSE(Has(r.out + r.err, "has changed your Windows logos"));
    // The automatic change keeps the logo of a position without an image.
    r = Kvs("change");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Startup logo kept: no stored image is chosen for this position.\n"
                     "Wait logo kept: no stored image is chosen for this position.\n"
                     "Turn Off logo kept: no stored image is chosen for this position.\n");
    ExpectOldLogos();

    AddPicture();
    TempEnv::Write(env.win + "logos.bak", "a plain file");
    r = Kvs("shuffle");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, "Couldn't back up \"" + off + "\"")) << r.err;
    r = Kvs("inst");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(Has(r.out + r.err, "has changed your Windows logos"));
    ExpectOldLogos();
}

TEST_F(KvsOutcomes, RestoreAndUninstReportEveryLineTheyCouldNotCarryOut)
{
    const std::string bak = env.win + "logos.bak/";
    fs::create_directories(bak);
    TempEnv::Write(wait, "built");
    TempEnv::Write(off, "built");
    TempEnv::Write(bak + "restore.bat", "copy \"" + bak + "logo1.bmp\" \"" + wait + "\"\r\ndel  \"" + off + "\"\r\n");
    Result r = Kvs("--yes restore");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't restore \"" + wait + "\" from \"" + bak + "logo1.bmp\".\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TempEnv::Read(wait), "built");
    EXPECT_FALSE(fs::exists(off));  // the other line still ran

    r = Kvs("--no restore");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Nothing was restored.\n");

    ASSERT_EQ(Kvs("settings AutoChange 1").status, 0);
    const std::string registry = TempEnv::Read(env.win + "registry.ini");
    ASSERT_TRUE(Has(registry, "/CHANGE"));
    if (!Freeze(env.win)) GTEST_SKIP() << "no immutable folders here";
    r = Kvs("--no uninst");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "registry.ini")) << r.err;
    EXPECT_EQ(TempEnv::Read(env.win + "registry.ini"), registry);
}

TEST_F(KvsOutcomes, SettingsAndPositionsFailWhenTheirFileCannotBeWritten)
{
    ASSERT_EQ(Kvs("settings DefPrefix Before").status, 0);
    const std::string ini = env.prog + "Kvs.ini", before = TempEnv::Read(ini);
    Result r = Kvs("settings FontSize abc");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "FontSize")) << r.err;
    EXPECT_EQ(TempEnv::Read(ini), before);

    chmod(ini.c_str(), 0444);
    r = Kvs("settings DefPrefix After");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't write the settings file \"" + ini + "\".\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TempEnv::Read(ini), before);
    EXPECT_EQ(Kvs("settings DefPrefix").out, "DefPrefix=Before\n");
    chmod(ini.c_str(), 0644);

    AddPicture();
    const std::string index = TempEnv::Read(store + "headers.dat");
    if (!Freeze(store)) GTEST_SKIP() << "no immutable folders here";
    r = Kvs("positions wait Sea--Dawn");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TempEnv::Read(store + "headers.dat"), index);
    r = Kvs("prefix Land Sea--Dawn");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "Images that couldn't be renamed: 1: Sea--Dawn.png")) << r.err;
}

TEST_F(KvsOutcomes, QuestionsAnsweredNoSaySoOnStandardError)
{
    AddPicture();
    AddPicture("Dusk", 'k');
    const std::string gal = env.root.string() + "/pack.gal";
    TempEnv::Write(gal, "not yet a gallery");
    Result r = Kvs("gallery create '" + gal + "' Sea--Dawn Sea--Dusk");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Gallery \"" + gal + "\" already exists; nothing was written.\n");
    EXPECT_EQ(TempEnv::Read(gal), "not yet a gallery");

    ASSERT_EQ(Kvs("--yes gallery create '" + gal + "' --prefix Sea Sea--Dawn Sea--Dusk").status, 0);
    r = Kvs("gallery open '" + gal + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Nothing was extracted from \"" + gal + "\".\n");

    r = Kvs("delete Sea--Dawn");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Nothing was deleted.\n");
    EXPECT_TRUE(fs::exists(store + "Sea--Dawn.png"));
}
