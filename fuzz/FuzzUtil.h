// Shared pieces of the fuzz harnesses: a scratch folder per process that the program's folders
// point into, writing the input to a file there, and the check that every registry block and
// file-table entry an input acquired is released again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"

namespace fuzz {

// Answers every question with its preselected button, shows nothing, overwrites on a clash.
class QuietUi : public DefaultUi {
public:
    void ErrorBox(const std::string&) override {}
    void WarningBox(const std::string&) override {}
    void InfoBox(const std::string&) override {}
    int OverwriteDialog(const std::string&, const std::string&) override { return 1; }
};

// The scratch folder (trailing '/'), made once per process; KVS_WINDOWS_DIR and KVS_PROGRAM_DIR
// point into it so nothing outside is ever touched.
inline const std::string& Scratch()
{
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string& dir = *new std::string([] {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        // A crash or a timeout skips the clean-up at exit: folders of processes gone are removed here.
        for (const auto& e : fs::directory_iterator(base, ec)) {
            const std::string n = e.path().filename().string();
            if (n.rfind("kvs-fuzz-", 0) == 0 && n.find_first_not_of("0123456789", 9) == std::string::npos &&
                n.size() > 9 && !fs::exists("/proc/" + n.substr(9), ec))
                fs::remove_all(e.path(), ec);
        }
        std::string d = (base / ("kvs-fuzz-" + std::to_string(getpid()))).string() + "/";
        fs::remove_all(d, ec);
        if (!fs::create_directories(d, ec)) std::abort();
        fs::create_directories(d + "WINDOWS", ec);
        fs::create_directories(d + "prog", ec);
        setenv("KVS_WINDOWS_DIR", (d + "WINDOWS/").c_str(), 1);
        setenv("KVS_PROGRAM_DIR", (d + "prog/").c_str(), 1);
        static QuietUi ui;
        SetUi(&ui);
        std::atexit([] {
            std::error_code e;
            std::filesystem::remove_all(Scratch(), e);
        });
        return d;
    }());
    return dir;
}

inline std::string WriteInput(const std::string& name, const uint8_t* data, size_t size)
{
    const std::string path = Scratch() + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

// Registry blocks and open files must come back to where they were before the input.
struct BalanceCheck {
    int mem = MemCount();
    int files = FileCount();
    int depth = MonDepth();
    ~BalanceCheck()
    {
        MonClearError();
        if (MemCount() != mem || FileCount() != files || MonDepth() != depth) {
            std::fprintf(stderr, "registry imbalance: blocks %d -> %d, files %d -> %d, monitor depth %d -> %d\n%s\n",
                         mem, MemCount(), files, FileCount(), depth, MonDepth(), MemLeakReport().c_str());
            std::abort();
        }
    }
};

}  // namespace fuzz
