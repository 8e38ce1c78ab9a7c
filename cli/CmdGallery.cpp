// kvs gallery create|open: the window's gallery commands with the file, prefix and images given
// as arguments.
#include <algorithm>
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

int Create_(const KvsCommand&, const KvsArgs& args)
{
    TRACE("CmdGallery.Create_");
    if (args.operands.empty()) return KvsUsageError("gallery", "create expects FILE and the NAMEs of the images");
    const std::string file = Absolute_(args.operands[0]);
    const std::vector<std::string> typed(args.operands.begin() + 1, args.operands.end());
    const std::string prefix = KvsValue(args, "--prefix");
    return KvsRunStatus([&] {
        KvsStartUp();
        std::vector<std::string> names;
        for (const std::string& t : typed) {
            const std::string name = StoreResolveName(t);
            if (name.empty()) return KvsFail("No image named \"" + t + "\" in the store.");
            // One image named twice ("S--a", "s--a.png") is packed once.
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        if (names.size() < 2) return KvsFail("A gallery is made of two or more different stored images: name them after FILE.");
        // Replacing an existing file is the question --yes answers.
        return KvsReport(GalleryCreate(file, prefix, names, Answers()), true);
    });
}

int Open_(const KvsCommand&, const KvsArgs& args)
{
    TRACE("CmdGallery.Open_");
    if (KvsHas(args, "--as") && KvsValue(args, "--as").empty()) return KvsUsageError("gallery", "--as needs a prefix");
    if (args.operands.size() != 1) return KvsUsageError("gallery", "open expects one FILE");
    const std::string file = Absolute_(args.operands[0]);
    const bool overwrite = KvsHas(args, "--overwrite");
    const std::string as = KvsValue(args, "--as");
    return KvsRunStatus([&] {
        KvsStartUp();
        Answers ask;
        if (overwrite) ask.PrefixClash = [](std::string&) { return static_cast<int>(PC_OVERWRITE); };
        return KvsReport(GalleryOpen(file, as, ask), true);
    });
}

}  // namespace

const KvsCommand KVS_GALLERY = {
    .name = "gallery",
    .summary = "create or open a gallery file (*.gal)",
    .actions = {
        {.name = "create",
         .proc = Create_,
         .operands = "FILE %o NAME...",
         .help = "packs the named images (two or more) into the gallery FILE (.gal is added when FILE\n"
                 "has no extension) under the image prefix P (default: FILE's name). An existing FILE\n"
                 "is replaced only with --yes. Prints the summary with the download times.",
         .options = {{.name = "--prefix", .kind = KVS_TEXT, .value = "P", .help = "the image prefix stored in the gallery"}},
         .complete = "file name"},
        {.name = "open",
         .proc = Open_,
         .operands = "FILE %o",
         .help = "unpacks every image of FILE into the store as <prefix>--<name>.png, the prefix being\n"
                 "the gallery's own or PREFIX. When stored images already begin with that prefix the\n"
                 "question is asked; --overwrite answers it with overwrite.",
         .options = {
             {.name = "--as", .kind = KVS_TEXT, .value = "PREFIX", .help = "unpack under PREFIX instead of the gallery's own",
              .excludes = "--overwrite"},
             {.name = "--overwrite", .help = "replace stored images that begin with the prefix", .excludes = "--as"},
         },
         .complete = "file"},
    },
};
