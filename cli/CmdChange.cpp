// kvs change: the "/change" action of kelvane-studio without its window: start-up, the action, the
// settings saved (headers.dat is left as it was, as after a command-line run).
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/Options.h"

int CmdChange(const std::vector<std::string>& args)
{
    TRACE("CmdChange.CmdChange");
    if (!args.empty()) return KvsUsageError("change", "unexpected argument '" + args[0] + "'");
    return KvsRunStatus([] {
        KvsStartUp();
        Outcome o = LogoChange();
        OutcomeMerge(o, OptionsSaveSettings());
        return KvsReport(o);
    });
}
