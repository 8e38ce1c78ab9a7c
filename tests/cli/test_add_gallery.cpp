// kvs add and kvs gallery, run as the built binary on temporary folders.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

using Result = RunResult;

// A small 24-bit bitmap written by hand.
void WriteBmp(const std::string& path, int w, int h, unsigned char shade)
{
    const int row = (w * 3 + 3) & ~3;
    std::string s(54, '\0');
    auto put = [&s](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    s[0] = 'B';
    s[1] = 'M';
    put(2, 54 + row * h, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, w, 4);
    put(22, h, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, row * h, 4);
    std::string data(static_cast<size_t>(row) * h, static_cast<char>(shade));
    std::ofstream(path, std::ios::binary) << s << data;
}

class KvsAddGallery : public ::testing::Test {
protected:
    TempEnv env;
    Result Kvs(const std::string& args) { return RunProgram(env, "kvs", args); }
    std::string Pic(const std::string& name, int w, int h, unsigned char shade = 200)
    {
        const std::string p = env.root.string() + "/" + name;
        WriteBmp(p, w, h, shade);
        return "'" + p + "'";
    }
};

}  // namespace

TEST_F(KvsAddGallery, AddPrintsStoredNamesAndSettlesClashes)
{
    const std::string a = Pic("Old--Sun.bmp", 64, 48), b = Pic("moon.bmp", 30, 60, 40);
    Result r = Kvs("add --mode crop --prefix Sky " + a + " " + b);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sky--Sun.png\nSky--moon.png\n");
    EXPECT_EQ(Kvs("settings ResizeMode").out, "ResizeMode=1\n");
    EXPECT_EQ(Kvs("settings DefPrefix").out, "DefPrefix=Sky\n");

    // Without a terminal and without --clash the clash dialog is closed: the run aborts.
    r = Kvs("add " + a);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    r = Kvs("add --clash ask " + a);
    EXPECT_EQ(r.status, 1);
    r = Kvs("add --clash skip " + a + " " + b);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = Kvs("add --clash overwrite " + b);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sky--moon.png\n");
    r = Kvs("--no add " + b);  // --no answers the clash with Skip
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    r = Kvs("add --clash skip '" + env.root.string() + "/none.png' " + Pic("late.bmp", 8, 8));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Sky--late.png\n");
    // Each error alone on one line, the file with its reason: a script reads one line per error.
    EXPECT_NE(r.err.find("Error loading \"" + env.root.string() + "/none.png\": Cannot open file: "), std::string::npos)
        << r.err;
    EXPECT_EQ(("\n" + r.err).find("\nCannot open file"), std::string::npos) << r.err;

    const Result list = Kvs("list");
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 3);
    EXPECT_EQ(Kvs("add --mode sideways " + a).status, 2);
    EXPECT_EQ(Kvs("add --clash maybe " + a).status, 2);
    EXPECT_EQ(Kvs("add").status, 2);
}

TEST_F(KvsAddGallery, GalleryCreateAndOpen)
{
    ASSERT_EQ(Kvs("add --prefix Sea " + Pic("Dawn.bmp", 40, 30) + " " + Pic("Dusk.bmp", 40, 30, 20)).status, 0);
    const std::string gal = env.root.string() + "/pack";
    // One image is no gallery, also when it is named twice in two spellings.
    for (const std::string names : {"Sea--Dawn", "Sea--Dawn sea--dawn.png"}) {
        Result r = Kvs("gallery create '" + gal + "' " + names);
        EXPECT_EQ(r.status, 1) << names;
        EXPECT_NE(r.err.find("two or more different stored images"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(gal + ".gal")) << names;
    }
    Result r;
    r = Kvs("gallery create '" + gal + "' --prefix Waves Sea--Dawn Sea--Dusk.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("successfully created."), std::string::npos);
    EXPECT_NE(r.out.find("Prefix: \"Waves\""), std::string::npos);
    EXPECT_NE(r.out.find("Number of pictures: 2"), std::string::npos);
    ASSERT_TRUE(fs::exists(gal + ".gal"));
    // An existing gallery is replaced only with --yes.
    EXPECT_EQ(Kvs("gallery create '" + gal + ".gal' Sea--Dawn Sea--Dusk").status, 1);
    EXPECT_EQ(Kvs("--yes gallery create '" + gal + ".gal' Sea--Dawn Sea--Dusk").status, 0);

    r = Kvs("gallery open '" + gal + ".gal'");  // prefix "pack" from the file name: no clash
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Images extracted under prefix \"pack\".\n");
    EXPECT_EQ(Kvs("gallery open '" + gal + ".gal'").status, 1);  // clash, no terminal: Cancel
    EXPECT_EQ(Kvs("gallery open '" + gal + ".gal' --overwrite").status, 0);
    r = Kvs("gallery open '" + gal + ".gal' --as Copy");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string paths = Kvs("paths").out;
    const size_t at = paths.find("storage=");
    ASSERT_NE(at, std::string::npos);
    std::string store = paths.substr(at + 8, paths.find('\n', at) - at - 8);
    if (store.back() != '/') store += '/';
    std::ifstream x(store + "Copy--Dawn.png", std::ios::binary), y(store + "Sea--Dawn.png", std::ios::binary);
    const std::string cx((std::istreambuf_iterator<char>(x)), {}), cy((std::istreambuf_iterator<char>(y)), {});
    EXPECT_FALSE(cx.empty());
    EXPECT_EQ(cx, cy);
    EXPECT_EQ(Kvs("gallery open '" + env.root.string() + "/Dawn.bmp'").err, "This is not a valid Kelvane Studio gallery.\n");
    EXPECT_EQ(Kvs("gallery frob x").status, 2);
}
