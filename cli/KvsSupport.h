// Helpers for the kvs commands: the window-less start-up and shut-down, running a body under
// the error monitor with kvs's error output, and argument parsing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/Outcome.h"

// Full path of the kelvane-studio program installed beside kvs: parameter 0 of every kvs run,
// so the Run entry and the install information name the program that can run "/change".
std::string KvsStudioPath();

// The window-less start: settings, messages, image store (no switches, no window).
void KvsStartUp();
// The window-less close: settings and install information saved, headers.dat written, the
// store freed.
void KvsShutDown();

// Runs body under the error monitor. An error prints its text alone on one line of standard
// error and gives KVS_EXIT_FAILED; otherwise KVS_EXIT_OK (or what body returns when it returns
// an int).
int KvsRun(const std::function<void()>& body);
int KvsRunStatus(const std::function<int()>& body);
// Prints text alone on one line of standard error (the message box text); returns KVS_EXIT_FAILED.
int KvsFail(const std::string& text);
// "kvs COMMAND: problem" and a hint to --help on standard error; returns KVS_EXIT_USAGE.
int KvsUsageError(const std::string& command, const std::string& problem);
// Shows what a command did: skipped items and the result on standard output, warnings and
// errors alone on lines of standard error (a declined question too when declinedFails).
// KVS_EXIT_FAILED when anything failed, else KVS_EXIT_OK.
int KvsReport(const Outcome& o, bool declinedFails = false);
// Prints text on standard output with native line ends, adding a final line end when missing.
void KvsOut(const std::string& text);

// Removes flag from args; true when it was there.
bool KvsTakeFlag(std::vector<std::string>& args, const std::string& flag);
// Removes "name VALUE" (or "name=VALUE") from args. 1 taken, 0 absent, -1 value missing.
int KvsTakeOption(std::vector<std::string>& args, const std::string& name, std::string& value);
// First argument that starts with '-' (a misspelt option), or empty text.
std::string KvsFirstOption(const std::vector<std::string>& args);

// The answer given by --yes / --no (CONSOLE_ASK without).
int KvsForcedAnswer();

// The whole kvs program: argv[0] is the program, the rest its arguments.
int KvsMain(const std::vector<std::string>& argv);
// The text of "kvs --help" and of "kvs COMMAND --help" (empty for an unknown command).
std::string KvsHelpText();
std::string KvsCommandHelpText(const std::string& command);
