// restore.bat: QuotedField on any line and RestoreLogos carrying out any file. Inputs holding a
// path separator are skipped, and the process works inside a scratch folder, so the DEL and
// COPY lines of an input can only touch files there.
#include "FuzzUtil.h"

#include <unistd.h>

#include <filesystem>

#include "core/Backup.h"
#include "core/Settings.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('/') != std::string::npos || text.find('\\') != std::string::npos) return 0;
    const std::string play = fuzz::Scratch() + "play/";
    std::error_code ec;
    fs::remove_all(play, ec);
    fs::create_directories(play, ec);
    if (chdir(play.c_str()) != 0) std::abort();
    fuzz::WriteInput("play/logo.sys", reinterpret_cast<const uint8_t*>("BM"), 2);
    fuzz::WriteInput("play/logo1.bmp", reinterpret_cast<const uint8_t*>("BMold"), 5);

    fuzz::BalanceCheck balance;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        for (int n = 0; n <= 3; ++n) {
            const std::string f = QuotedField(line, n);
            if (f.find('"') != std::string::npos || f.size() > line.size()) std::abort();
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const std::string bak = GetBackupDir();
    fs::create_directories(bak, ec);
    fuzz::WriteInput(bak.substr(fuzz::Scratch().size()) + RESTORE_FILE, data, size);
    RestoreLogos();
    if (chdir(fuzz::Scratch().c_str()) != 0) std::abort();
    return 0;
}
