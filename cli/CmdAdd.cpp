// kvs add: the window's "Add" command with the files, resize mode, prefix and clash answer given
// as arguments.
#include <string>
#include <vector>

#include "base/Mon.h"
#include "cli/ConsoleUi.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/AddImages.h"
#include "core/Options.h"

namespace {

// The choices of --mode are the resize modes in their order, those of --clash after "ask" the
// clash answers.
const int kClashChoices[] = {OC_NONE, OC_OVERWRITE, OC_SKIP, OC_ABORT};

int Add_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdAdd.Add_");
    if (args.operands.empty()) return KvsUsageError(self.name, "expected at least one FILE");
    const int resizeMode = KvsChoice(self.options, args, "--mode");
    const bool hasPrefix = KvsHas(args, "--prefix");
    const std::string prefix = KvsValue(args, "--prefix");
    const int clash = KvsChoice(self.options, args, "--clash");
    return KvsRunStatus([&] {
        KvsStartUp();
        // --clash ask asks on a terminal whatever --yes/--no say, and aborts when no answer comes.
        ConsoleUi asker(CONSOLE_ASK);
        Answers answers;
        if (clash > 0) {
            const int choice = kClashChoices[clash];
            answers.Clash = [choice](const std::string&, const std::string&) { return choice; };
        }
        if (clash == 0) {
            answers.Clash = [&asker](const std::string& c, const std::string& t) { return asker.OverwriteDialog(c, t); };
            answers.RenameTo = [&asker](std::string& name) { return asker.PromptText("Rename", "Enter new name", name); };
        }
        Outcome o = ImagesAdd(args.operands, resizeMode, hasPrefix ? prefix : std::string(), answers);
        if (resizeMode >= 0 || hasPrefix) OutcomeMerge(o, OptionsSaveSettings());
        std::string text;
        for (const std::string& n : o.Written) text += n + "\n";
        if (!text.empty()) KvsOut(text);
        for (const std::string& e : o.Errors) KvsFail(e);
        // An abort leaves files out: a script must not take the batch as done.
        for (const std::string& t : o.Skipped) KvsFail(t);
        return OutcomeOk(o) && !o.Declined ? static_cast<int>(KVS_EXIT_OK) : static_cast<int>(KVS_EXIT_FAILED);
    });
}

}  // namespace

const KvsCommand KVS_ADD = {
    .name = "add",
    .proc = Add_,
    .operands = "FILE...",
    .summary = "add pictures to the image store",
    .help = "Loads every FILE (any readable picture format; *.sys logo files as bitmaps), fits it to\n"
            "320 x 400 by the resize mode, reduces it to the logo palette and stores it as\n"
            "<prefix>--<name>.png; a name that already has a prefix loses it. Prints the stored\n"
            "names. Without --clash the question is asked when a stored name exists, and --yes\n"
            "overwrites, --no skips.\n"
            "A file that cannot be loaded is reported and the others are still added (exit 1).",
    .options = {
        {.name = "--mode", .kind = KVS_CHOICE, .value = "border|crop|stretch",
         .help = "how a picture is fitted to 320 x 400 (stored as the ResizeMode setting)"},
        {.name = "--prefix", .kind = KVS_TEXT, .value = "P", .help = "the prefix of the stored names (stored as DefPrefix)"},
        {.name = "--clash", .kind = KVS_CHOICE, .value = "ask|overwrite|skip|abort",
         .help = "when the stored name exists: overwrite, skip, abort (stop adding),\n"
                 "or ask (on a terminal; aborts when no answer can be read)"},
    },
    .complete = "file",
};
