// kvs gallery create|open: the window's gallery commands with the file, prefix and images given
// as arguments.
#include <filesystem>
#include <string>
#include <vector>

#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/Gallery.h"
#include "core/StoreCommands.h"

namespace {

std::string Absolute_(const std::string& file)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(file, ec);
    return ec ? file : p.lexically_normal().string();
}

int GalleryCreate_(std::vector<std::string> rest)
{
    TRACE("CmdGallery.GalleryCreate_");
    std::string prefix;
    const int r = KvsTakeOption(rest, "--prefix", prefix);
    if (r < 0) return KvsUsageError("gallery", "--prefix needs a value");
    if (!rest.empty() && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("gallery", "unknown option '" + bad + "'");
    if (rest.empty()) return KvsUsageError("gallery", "create expects FILE and the NAMEs of the images");
    const std::string file = Absolute_(rest[0]);
    const std::vector<std::string> typed(rest.begin() + 1, rest.end());
    return KvsRunStatus([&] {
        KvsStartUp();
        std::vector<std::string> names;
        for (const std::string& t : typed) {
            const std::string name = StoreResolveName(t);
            if (name.empty()) return KvsFail("No image named \"" + t + "\" in the store.");
            names.push_back(name);
        }
        // Replacing an existing file is the question --yes answers.
        return KvsReport(GalCreate(file, prefix, names, Answers()), true);
    });
}

int GalleryOpen_(std::vector<std::string> rest)
{
    TRACE("CmdGallery.GalleryOpen_");
    std::string as;
    const int r = KvsTakeOption(rest, "--as", as);
    if (r < 0) return KvsUsageError("gallery", "--as needs a value");
    const bool overwrite = KvsTakeFlag(rest, "--overwrite");
    if (r > 0 && overwrite) return KvsUsageError("gallery", "--as and --overwrite exclude each other");
    if (r > 0 && as.empty()) return KvsUsageError("gallery", "--as needs a prefix");
    if (!rest.empty() && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("gallery", "unknown option '" + bad + "'");
    if (rest.size() != 1) return KvsUsageError("gallery", "open expects one FILE");
    const std::string file = Absolute_(rest[0]);
    return KvsRunStatus([&] {
        KvsStartUp();
        Answers ask;
        if (overwrite) ask.PrefixClash = [](std::string&) { return static_cast<int>(PC_OVERWRITE); };
        return KvsReport(GalOpen(file, as, ask), true);
    });
}

}  // namespace

int CmdGallery(const std::vector<std::string>& args)
{
    TRACE("CmdGallery.CmdGallery");
    if (args.empty()) return KvsUsageError("gallery", "expected create or open");
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "create") return GalleryCreate_(rest);
    if (args[0] == "open") return GalleryOpen_(rest);
    return KvsUsageError("gallery", "unknown action '" + args[0] + "' (create or open)");
}
