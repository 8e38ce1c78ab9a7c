// kvs inst: the "/inst" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "base/UiServices.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

int CmdInst(const std::vector<std::string>& args)
{
    TRACE("CmdInst.CmdInst");
    if (!args.empty()) return KvsUsageError("inst", "unexpected argument '" + args[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoInstall();
        OutcomeMerge(o, OptionsSaveSettings());
        // The message is the box kelvane-studio shows, as it always was.
        if (!o.Result.empty()) Ui().InfoBox(o.Result);
        o.Result.clear();
        return KvsReport(o);
    });
}
