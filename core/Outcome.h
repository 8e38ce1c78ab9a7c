// What a user command did, and how the user's questions reach it. Every command of the core
// returns an Outcome; the window and kvs show it their own way and decide nothing by its texts.
// The questions a command may have to ask come in an Answers record from the front-end; a
// question without an answer of its own is asked through Ui() with the program's usual box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Outcome {
    std::vector<std::string> Written;   // files written or store names stored, in order
    std::vector<std::string> Skipped;   // what was left alone, each text saying why
    std::vector<std::string> Warnings;  // worth telling, not a failure
    std::vector<std::string> Errors;    // what failed, each with its error text
    std::string Result;                 // the text that reports what was done; empty when nothing was
    std::string Select;                 // the store name to select afterwards, empty for none
    bool Declined = false;              // the user answered a question with "do nothing"
    bool StoreChanged = false;          // the store list changed (the window refreshes its list)
    int Cause = 0;                      // an OUTCOME_CAUSE_ value: why it failed, for a front-end's own words
};

// Failures whose error text speaks of the window (its list, its keys): another front-end words
// them itself by this cause, never by the text.
enum { OUTCOME_CAUSE_NONE = 0, OUTCOME_CAUSE_RENAME_REFUSED = 1 };

// Errors of commands that carry their own text (the class whose text is the message).
constexpr int32_t OUTCOME_ERROR_CLASS = 2;

// The questions the commands ask, with the answers they take; the commands name them where they ask.
// Answers of the name-clash dialog (adding images, unpacking galleries).
enum {
    OC_NONE = 0, OC_OVERWRITE = 1, OC_SKIP = 2, OC_RENAME = 3, OC_OVERWRITE_ALL = 4, OC_SKIP_ALL = 5, OC_ABORT = 6
};
constexpr const char* GAL_EXISTS = "Gallery already exists, do you want to overwrite it?";
constexpr const char* GAL_PREFIX_CLASH =
    "The gallery already exists, do you want to overwrite it (click \"Yes\" to overwrite, \"No\" to rename, "
    "\"Cancel\" to abort)?";
constexpr const char* RESTORE_QUESTION = "Do you want to restore previous logos?";
constexpr const char* UNINSTALL_QUESTION =
    "Do you want Kelvane Studio to delete ALL logo images (including custom images) from the storage folder? "
    "If you are going to install a newer version of Kelvane Studio answer NO to this question.";
// "Delete NAME?" or "Delete N selected logos?"; empty for no names.
std::string StoreDeleteQuestion(const std::vector<std::string>& names);

// Answers of a prefix clash while opening a gallery.
enum { PC_CANCEL = 0, PC_OVERWRITE = 1, PC_RENAME = 2 };

struct Answers {
    // A stored name exists (adding, unpacking): an OverwriteChoice value 1..6.
    std::function<int(const std::string& caption, const std::string& text)> Clash;
    // The new name after the clash answer "Rename"; false to ask the clash question again.
    std::function<bool(std::string& name)> RenameTo;
    // The gallery file to create exists: replace it?
    std::function<bool(const std::string& file)> ReplaceFile;
    // Stored images begin with prefix: PC_OVERWRITE, PC_RENAME with prefix changed, or PC_CANCEL.
    std::function<int(std::string& prefix)> PrefixClash;
    std::function<bool(const std::vector<std::string>& names)> ConfirmDelete;
    std::function<bool()> ConfirmRestore;
    // "/uninst": delete every stored image too?
    std::function<bool()> DeleteStore;
};

bool OutcomeOk(const Outcome& o);
void OutcomeFail(Outcome& o, const std::string& text);
// Takes the monitor's current error (when there is one) as an error of o and clears it.
void OutcomeTakeMonError(Outcome& o);
// Runs body in a transparent monitor block; an error it raises becomes an error of o.
void OutcomeRun(Outcome& o, const std::function<void()>& body);
// Appends what other did to o.
void OutcomeMerge(Outcome& o, const Outcome& other);
// Shows the outcome as boxes through Ui(): errors, warnings, then the result.
void OutcomeShow(const Outcome& o);

// The questions, answered by the member of ask or else through Ui().
int AskClash(const Answers& ask, const std::string& caption, const std::string& text);
bool AskRenameTo(const Answers& ask, std::string& name);
bool AskReplaceFile(const Answers& ask, const std::string& file);
int AskPrefixClash(const Answers& ask, std::string& prefix);
bool AskConfirmDelete(const Answers& ask, const std::vector<std::string>& names);
bool AskConfirmRestore(const Answers& ask);
bool AskDeleteStore(const Answers& ask);
