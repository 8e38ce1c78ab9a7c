// kvs inst: the "/inst" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

// The window's message sends the user to the Programs menu; kvs names its own ways instead.
static const char* const kInstalled =
    "Kelvane Studio has changed your Windows logos (the pictures you see on Windows startup and shut "
    "down). To modify settings run 'kvs settings'; to modify messages start kelvane-studio.";

static int Inst_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdInst.Inst_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoInstall();
        OutcomeMerge(o, OptionsSaveSettings());
        o.Result = OutcomeOk(o) ? kInstalled : "";
        return KvsReport(o);
    });
}

const KvsCommand KVS_INST = {
    .name = "inst",
    .proc = Inst_,
    .summary = "the /inst action: new logos, the automatic change at every start, Logo=1 in MSDOS.SYS",
    .help = "Runs the /inst action of kelvane-studio: the start-up sequence, new logos for all three\n"
            "positions, the registry Run entry (whatever AutoChange holds), the Logo option in\n"
            "MSDOS.SYS (the value it replaces is kept for uninst), the automatic change at every\n"
            "Windows start on the drive (see 'kvs settings --help': AUTOEXEC.BAT's line and the\n"
            "prepared logo sets; AutoChange is turned on) and the closing message; then the settings\n"
            "are saved.",
};
