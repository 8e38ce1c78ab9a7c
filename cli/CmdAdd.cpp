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

int CmdAdd(const std::vector<std::string>& args)
{
    TRACE("CmdAdd.CmdAdd");
    std::vector<std::string> rest = args;
    std::string mode, prefix, clash;
    int r1 = KvsTakeOption(rest, "--mode", mode);
    int r2 = KvsTakeOption(rest, "--prefix", prefix);
    int r3 = KvsTakeOption(rest, "--clash", clash);
    if (r1 < 0) return KvsUsageError("add", "--mode needs a value");
    if (r2 < 0) return KvsUsageError("add", "--prefix needs a value");
    if (r3 < 0) return KvsUsageError("add", "--clash needs a value");
    int resizeMode = -1;
    if (r1 > 0) {
        if (mode == "border") resizeMode = RM_BORDER;
        else if (mode == "crop") resizeMode = RM_CROP;
        else if (mode == "stretch") resizeMode = RM_STRETCH;
        else return KvsUsageError("add", "bad --mode '" + mode + "' (border, crop or stretch)");
    }
    int choice = OC_NONE;
    bool ask = false;
    if (r3 > 0) {
        if (clash == "ask") ask = true;
        else if (clash == "overwrite") choice = OC_OVERWRITE;
        else if (clash == "skip") choice = OC_SKIP;
        else if (clash == "abort") choice = OC_ABORT;
        else return KvsUsageError("add", "bad --clash '" + clash + "' (ask, overwrite, skip or abort)");
    }
    if (rest.size() > 0 && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("add", "unknown option '" + bad + "'");
    if (rest.empty()) return KvsUsageError("add", "expected at least one FILE");

    return KvsRunStatus([&] {
        KvsStartUp();
        // --clash ask asks on a terminal whatever --yes/--no say, and aborts when no answer comes.
        ConsoleUi asker(CONSOLE_ASK);
        Answers answers;
        if (choice != OC_NONE) answers.Clash = [choice](const std::string&, const std::string&) { return choice; };
        if (ask) {
            answers.Clash = [&asker](const std::string& c, const std::string& t) { return asker.OverwriteDialog(c, t); };
            answers.RenameTo = [&asker](std::string& name) { return asker.PromptText("Rename", "Enter new name", name); };
        }
        Outcome o = AddFiles(rest, resizeMode, r2 > 0 ? prefix : std::string(), answers);
        if (resizeMode >= 0 || r2 > 0) OutcomeMerge(o, OptionsSaveSettings());
        std::string text;
        for (const std::string& n : o.Written) text += n + "\n";
        if (!text.empty()) KvsOut(text);
        for (const std::string& e : o.Errors) KvsFail(e);
        // An abort leaves files out: a script must not take the batch as done.
        for (const std::string& t : o.Skipped) KvsFail(t);
        return OutcomeOk(o) && !o.Declined ? static_cast<int>(KVS_EXIT_OK) : static_cast<int>(KVS_EXIT_FAILED);
    });
}
