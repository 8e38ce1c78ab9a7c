// kvs list, positions, rename, prefix, delete and restore, run as the built binary.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

using Result = RunResult;

class KvsStore : public ::testing::Test {
protected:
    TempEnv env;
    std::string store;
    void SetUp() override
    {
        // The default storage folder of a fresh drive: the program-files folder + KvsLogos.
        store = env.root.string() + "/drive_c/Program Files/KvsLogos/";
        fs::create_directories(store);
        for (const char* n : {"Sea--Dawn.png", "Sea--Dusk.png", "Plain.png"}) TempEnv::Write(store + n, n);
    }
    Result Kvs(const std::string& args) { return RunProgram(env, "kvs", args); }
};

}  // namespace

TEST_F(KvsStore, ListPositionsAndJson)
{
    Result r = Kvs("list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Plain.png\tstart,wait,off\t9\t0\t0\nSea--Dawn.png\tstart,wait,off\t13\t0\t0\n"
                     "Sea--Dusk.png\tstart,wait,off\t13\t0\t0\n");
    r = Kvs("positions start,off sea--dawn Plain.png");
    EXPECT_EQ(r.status, 0) << r.err;
    r = Kvs("list --json");
    EXPECT_EQ(r.out,
              "[\n {\"name\": \"Plain.png\", \"positions\": 5, \"size\": 9, \"fromLogoFile\": false, \"animStart\": 0},\n"
              " {\"name\": \"Sea--Dawn.png\", \"positions\": 5, \"size\": 13, \"fromLogoFile\": false, \"animStart\": 0},\n"
              " {\"name\": \"Sea--Dusk.png\", \"positions\": 7, \"size\": 13, \"fromLogoFile\": false, \"animStart\": 0}\n]\n");
    EXPECT_EQ(Kvs("positions 8 Plain").status, 2);
    EXPECT_EQ(Kvs("positions 2 Nothing").status, 1);
    EXPECT_EQ(Kvs("list extra").status, 2);
}

TEST_F(KvsStore, RenamePrefixDelete)
{
    Result r = Kvs("rename Sea--Dawn Sea--Dusk");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "There already exists an image with that name, please select another one.\n");
    // A refused name is worded for the terminal: no window list to refresh with F5.
    r = Kvs("rename Sea--Dawn " + std::string(200, 'x'));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Couldn't rename \"Sea--Dawn.png\": ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("F5"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    r = Kvs("rename Sea--Dawn 'Hill:Top.png'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Hill_Top.png\n");
    EXPECT_TRUE(fs::exists(store + "Hill_Top.png"));

    r = Kvs("prefix Mount Hill_Top Sea--Dusk");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Images renamed: 2\n");
    EXPECT_TRUE(fs::exists(store + "Mount--Hill_Top.png"));
    EXPECT_TRUE(fs::exists(store + "Mount--Dusk.png"));

    // Without --yes the proposed answer of the question is No.
    r = Kvs("delete Plain");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(store + "Plain.png"));
    r = Kvs("--yes delete Plain Mount--Dusk");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(store + "Plain.png"));
    EXPECT_FALSE(fs::exists(store + "Mount--Dusk.png"));
    EXPECT_EQ(Kvs("list").out, "Mount--Hill_Top.png\tstart,wait,off\t13\t0\t0\n");
}

TEST_F(KvsStore, RestoreAsksAndRestores)
{
    const std::string bak = env.win + "logos.bak/";
    fs::create_directories(bak);
    TempEnv::Write(bak + "logo1.bmp", "old");
    TempEnv::Write(env.win + "logow.sys", "new");
    TempEnv::Write(env.win + "logos.sys", "new");
    TempEnv::Write(bak + "restore.bat", "REM\r\ncopy \"" + bak + "logo1.bmp\" \"" + env.win + "logow.sys\"\r\ndel  \"" +
                                            env.win + "logos.sys\"\r\n");
    Result r = Kvs("--no restore");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(TempEnv::Read(env.win + "logow.sys"), "new");
    r = Kvs("restore");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Previous logos restored.\n");
    EXPECT_EQ(TempEnv::Read(env.win + "logow.sys"), "old");
    EXPECT_FALSE(fs::exists(env.win + "logos.sys"));
}
