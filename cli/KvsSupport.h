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

// The answer given by --yes / --no (CONSOLE_ASK without).
int KvsForcedAnswer();

// Warnings for the lines of message (logo text, CR LF between lines) that run off the logo's
// right edge in the font of the settings; what names the message: "The Startup message".
void KvsWarnPastEdge(Outcome& o, const std::string& what, const std::string& message);

// Text of an error or warning box as kvs prints it: its lines joined into one.
std::string KvsOneLine(const std::string& text);

// The whole kvs program: argv[0] is the program, the rest its arguments.
int KvsMain(const std::vector<std::string>& argv);
// The text of "kvs --help", of "kvs COMMAND --help" (empty for an unknown command) and of
// "kvs --version".
std::string KvsHelpText();
std::string KvsCommandHelpText(const std::string& command);
std::string KvsVersionText();
// What bash completion offers after "kvs [COMMAND [ACTION]]" (words: the command and its action,
// if any): "command NAME" or "action NAME" lines, "option ..." lines of KvsCompletionLines, and
// "operands KIND..." as in KvsCommand::complete. Empty for an unknown command.
std::string KvsCompletionText(const std::vector<std::string>& words);
