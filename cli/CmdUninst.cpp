// kvs uninst: the "/uninst" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

int CmdUninst(const std::vector<std::string>& args)
{
    TRACE("CmdUninst.CmdUninst");
    if (!args.empty()) return KvsUsageError("uninst", "unexpected argument '" + args[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoUninstall(Answers());
        OutcomeMerge(o, OptionsSaveSettings());
        return KvsReport(o);
    });
}
