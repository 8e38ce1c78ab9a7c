// The commands of the kvs tool. Each command lives in its own file cli/Cmd<Name>.cpp with its
// options table, is declared here and registered by one line in the table of KvsCommands.cpp.
// The frame parses the arguments by the command's table (usage errors exit 2 there), answers
// "kvs COMMAND --help" from it, and hands the command what it found.
//
// To add a command: a file cli/CmdFoo.cpp defining "const KvsCommand KVS_FOO = {...}" (its name,
// procedure, operands, texts and options), "extern const KvsCommand KVS_FOO;" below and "&KVS_FOO"
// in the table. To add an option: one KvsOption row in the command's table, then read it in the
// procedure with KvsHas / KvsValue / KvsNumber / KvsChoice.
#pragma once

#include <string>
#include <vector>

#include "cli/KvsOptions.h"

// Exit status of kvs.
enum { KVS_EXIT_OK = 0, KVS_EXIT_FAILED = 1, KVS_EXIT_USAGE = 2 };

struct KvsCommand;
using KvsCommandProc = int (*)(const KvsCommand& self, const KvsArgs& args);

struct KvsCommand {
    const char* name = "";        // as typed: "list", "debug-info"; an action's own word: "create"
    KvsCommandProc proc = nullptr;
    const char* operands = "";    // the operands as the usage shows them, "%o" where the options go
    const char* summary = "";     // one line for "kvs --help"
    const char* help = "";        // the description of "kvs NAME --help" (lines separated by \n)
    std::string (*helpText)() = nullptr;  // makes the description instead, when it is built from a table
    std::vector<KvsOption> options = {};
    // The operands may begin with "-" (store names, setting values): they are taken as given,
    // and only "--help" is looked for.
    bool rawOperands = false;
    // What the operands are, for completion: one word per operand, the last one repeating:
    // "file", "name" (a stored image), "setting", "-" (nothing to offer).
    const char* complete = "-";
    // Commands with actions ("gallery create"): the first operand chooses one of these.
    std::vector<KvsCommand> actions = {};
};

// The table in display order, and the look-up by name (exact, lower case); nullptr when unknown.
const std::vector<const KvsCommand*>& KvsCommandTable();
const KvsCommand* KvsFindCommand(const std::string& name);
const KvsCommand* KvsFindAction(const KvsCommand& command, const std::string& name);
// The options before the command (--yes, --drive, --help, ...).
const std::vector<KvsOption>& KvsGlobalOptions();

// ---- commands (one file each) ----
extern const KvsCommand KVS_DRIVES, KVS_INST, KVS_CHANGE, KVS_UNINST, KVS_SETTINGS, KVS_DEBUG_INFO;
// cli/CmdStore.cpp
extern const KvsCommand KVS_LIST, KVS_POSITIONS, KVS_RENAME, KVS_PREFIX, KVS_DELETE, KVS_RESTORE;
// cli/CmdLogo.cpp
extern const KvsCommand KVS_SET, KVS_SHUFFLE, KVS_PATHS;
// cli/CmdAdd.cpp, cli/CmdGallery.cpp
extern const KvsCommand KVS_ADD, KVS_GALLERY;
// cli/CmdConvert.cpp
extern const KvsCommand KVS_CONVERT, KVS_INFO;
