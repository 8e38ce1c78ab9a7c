// kvs uninst: the "/uninst" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

static int Uninst_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdUninst.Uninst_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoUninstall(Answers());
        OutcomeMerge(o, OptionsSaveSettings());
        return KvsReport(o);
    });
}

const KvsCommand KVS_UNINST = {
    .name = "uninst",
    .proc = Uninst_,
    .summary = "the /uninst action: automatic change off, previous logos back",
    .help = "Runs the /uninst action of kelvane-studio: removes the registry Run entry and the\n"
            "automatic change on the drive (AUTOEXEC.BAT byte for byte as before, the logo sets gone)\n"
            "and turns AutoChange off, restores the logos that were there before and the Logo value\n"
            "of MSDOS.SYS that inst replaced, asks whether to delete the stored images (--yes or --no\n"
            "answers without asking), and prints what it undid.",
};
