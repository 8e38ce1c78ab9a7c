// Profile files (Kvs.ini, win.ini, MSDOS.SYS): reading keys from any file, then a write that
// must read back and must keep every other byte of the file.
#include "FuzzUtil.h"

#include <fstream>
#include <sstream>

#include "platform/Prefs.h"
#include "platform/ProfileFile.h"

static std::string ReadAll_(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::WriteInput("Kvs.ini", data, size);
    fuzz::BalanceCheck balance;
    ProfileDropCache();
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Sections to look at: some fixed names and the first bracketed name of the input.
    std::vector<std::string> sections = {"Options", "boot", "Trelmark", ""};
    size_t open = text.find('['), close = text.find(']', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos && close > open)
        sections.push_back(text.substr(open + 1, close - open - 1));
    std::string out;
    for (const std::string& s : sections) {
        for (const std::string& k : ProfileKeys(s, path)) {
            const int n = ProfileReadString(s, k, "def", out, PREFS_BUFFER_SIZE, path);
            if (n != int(out.size()) || n >= PREFS_BUFFER_SIZE) std::abort();
        }
        ProfileSectionExists(s, path, true);
        PrefsPrepare(path, s);
        PrefsReadInt("Width", 7);
        PrefsReadBool("Enabled", true);
        PrefsReadStr("Name", "x");
    }
    PrefsClear();

    // A write reads back and leaves the rest of the file alone.
    const std::string section = sections.back().empty() ? "Options" : sections.back();
    const bool ok = ProfileWriteString(section, "FuzzKey", "v=1 ; kept", path);
    const bool flushed = ProfileFlush(path);
    ProfileDropCache();
    const std::string after = ReadAll_(path);
    if (ok && flushed) {
        ProfileReadString(section, "FuzzKey", "", out, PREFS_BUFFER_SIZE, path);
        if (out != "v=1 ; kept") {
            std::fprintf(stderr, "wrote [%s] FuzzKey, read back \"%s\"\n", section.c_str(), out.c_str());
            std::abort();
        }
        if (after.size() < text.size()) {
            std::fprintf(stderr, "the write lost bytes: %zu -> %zu\n", text.size(), after.size());
            std::abort();
        }
    } else if (after != text) {
        std::fprintf(stderr, "a failed write changed the file\n");
        std::abort();
    }
    ProfileDropCache();
    return 0;
}
