// The commands of the kvs tool. Each command lives in its own file cli/Cmd<Name>.cpp, is
// declared here and registered by one line in the table of KvsCommands.cpp. A command gets
// the arguments after its name (global options and the name itself already removed) and
// returns the exit status. "kvs COMMAND --help" is answered by the frame from the table, so a
// command never sees "--help".
#pragma once

#include <string>
#include <vector>

// Exit status of kvs.
enum { KVS_EXIT_OK = 0, KVS_EXIT_FAILED = 1, KVS_EXIT_USAGE = 2 };

using KvsCommandProc = int (*)(const std::vector<std::string>& args);

struct KvsCommand {
    const char* name;     // as typed: "list", "debug-info"
    KvsCommandProc proc;
    const char* usage;    // arguments after the name, for "kvs --help": "[--json]"
    const char* summary;  // one line for "kvs --help"
    const char* help;     // full text of "kvs NAME --help" (lines separated by \n), may be empty
};

// The table in display order, and the look-up by name (exact, lower case); nullptr when unknown.
const std::vector<KvsCommand>& KvsCommandTable();
const KvsCommand* KvsFindCommand(const std::string& name);

// ---- commands (one file each) ----
int CmdDrives(const std::vector<std::string>& args);
int CmdInst(const std::vector<std::string>& args);
int CmdChange(const std::vector<std::string>& args);
int CmdUninst(const std::vector<std::string>& args);
int CmdSettings(const std::vector<std::string>& args);
int CmdDebugInfo(const std::vector<std::string>& args);
// cli/CmdStore.cpp
int CmdList(const std::vector<std::string>& args);
int CmdPositions(const std::vector<std::string>& args);
int CmdRename(const std::vector<std::string>& args);
int CmdPrefix(const std::vector<std::string>& args);
int CmdDelete(const std::vector<std::string>& args);
int CmdRestore(const std::vector<std::string>& args);
// cli/CmdLogo.cpp
int CmdSet(const std::vector<std::string>& args);
int CmdShuffle(const std::vector<std::string>& args);
int CmdPaths(const std::vector<std::string>& args);
// cli/CmdAdd.cpp, cli/CmdGallery.cpp
int CmdAdd(const std::vector<std::string>& args);
int CmdGallery(const std::vector<std::string>& args);
// cli/CmdConvert.cpp
int CmdConvert(const std::vector<std::string>& args);
int CmdInfo(const std::vector<std::string>& args);
