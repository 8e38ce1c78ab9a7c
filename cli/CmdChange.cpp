// kvs change: the "/change" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

static int Change_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdChange.Change_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoChange();
        OutcomeMerge(o, OptionsSaveSettings());
        return KvsReport(o);
    });
}

const KvsCommand KVS_CHANGE = {
    .name = "change",
    .proc = Change_,
    .summary = "the /change action: new logos by the pick methods",
    .help = "Runs the /change action of kelvane-studio: the start-up sequence, new logos for the\n"
            "three positions picked by LogoPickMethod and MsgPickMethod, and the settings saved\n"
            "(the advanced pick counters with them).",
};
