// The options of a kvs command as one declarative table, and everything made from it: the parser,
// the usage line and option list of the help (and so the manual page, which is written from the
// help), and the words bash completion offers. A command's file holds its table; nothing else
// names its options.
#pragma once

#include <string>
#include <utility>
#include <vector>

// What an option takes.
enum {
    KVS_FLAG = 0,  // nothing
    KVS_TEXT,      // any text
    KVS_FILE,      // a file name (completion offers files)
    KVS_INT,       // one whole number per word of value, each within low..high
    KVS_CHOICE     // one of the words of value, separated by |
};

struct KvsOption {
    const char* name = "";           // "--mode"
    int kind = KVS_FLAG;
    const char* value = "";          // as the help shows it: "P", "W H"; the choices "border|crop|stretch"
    int low = 0, high = 0;           // KVS_INT: the range of every number
    const char* help = "";           // one line for the help; "\n" starts a continuation line
    const char* excludes = nullptr;  // the option that may not be given together with this one
    const char* needs = nullptr;     // the option that must be given for this one to mean anything
    const char* alias = nullptr;     // a short spelling such as "-y"
    bool alone = false;              // answered by itself (--help, --version): not in the usage line
};

// What the parser found: the options given, each with its values, and the operands in order.
struct KvsArgs {
    std::vector<std::pair<std::string, std::vector<std::string>>> given;
    std::vector<std::string> operands;
};

// Parses args by the table. An option may stand anywhere before "--" (which ends the options) and
// takes its values from the following words or after "=" ("--prefix=P"); stopAtOperand ends the
// options at the first operand too (the options before a command). False with problem set on
// bad usage: an unknown option, one with a value given twice, a missing value, a number out of its range, a word
// not among the choices, two options that exclude each other, an option without the one it needs.
bool KvsParse(const std::vector<KvsOption>& table, const std::vector<std::string>& args, bool stopAtOperand,
              KvsArgs& out, std::string& problem);

// Why value is no value of option (a number out of range, a word not among the choices), empty
// when it is one.
std::string KvsCheckValue(const KvsOption& option, const std::string& value);

bool KvsHas(const KvsArgs& args, const std::string& name);
// Value number k of the option, empty when it was not given.
std::string KvsValue(const KvsArgs& args, const std::string& name, size_t k = 0);
// Number k of a KVS_INT option (checked by the parser), def when it was not given.
int KvsNumber(const KvsArgs& args, const std::string& name, int def, size_t k = 0);
// Index of the chosen word of a KVS_CHOICE option in its value, -1 when it was not given.
int KvsChoice(const std::vector<KvsOption>& table, const KvsArgs& args, const std::string& name);

// The options as the usage line shows them: "[--mode border|crop|stretch] [--resize W H | --resample
// W H] [--colors N [--dither none|ordered|diffusion]]".
std::string KvsUsageOptions(const std::vector<KvsOption>& table);
// operands with the options put in: at "%o" when it holds one, else before the operands.
std::string KvsUsageLine(const std::vector<KvsOption>& table, const std::string& operands);
// One line per option (continuations indented), the help texts in one column; a range is added
// to the text of every number option.
std::string KvsOptionLines(const std::vector<KvsOption>& table);
// One line per option for completion: "option --mode choice border crop stretch", "option --prefix
// text", "option --json flag", "option --partition number 1 2 3 4" (a small range lists its numbers).
std::string KvsCompletionLines(const std::vector<KvsOption>& table);
