#include "core/Outcome.h"

#include "base/Mon.h"
#include "base/UiServices.h"

bool OutcomeOk(const Outcome& o) { return o.Errors.empty(); }

void OutcomeFail(Outcome& o, const std::string& text)
{
    TRACE("Outcome.OutcomeFail");
    // Through the monitor like every failure, so the trace records where it arose.
    MonBlockTransparent([&] { MonErrorMsg(OUTCOME_ERROR_CLASS, text.empty() ? "The operation failed." : text, __LINE__); });
    o.Errors.push_back(MonErrorText());
    MonClearError();
}

void OutcomeTakeMonError(Outcome& o)
{
    TRACE("Outcome.OutcomeTakeMonError");
    if (!MonOK()) o.Errors.push_back(MonErrorText());
    MonClearError();
}

void OutcomeRun(Outcome& o, const std::function<void()>& body)
{
    TRACE("Outcome.OutcomeRun");
    try {
        MonBlockTransparent(body);
    } catch (const std::exception& e) {
        MonClearError();
        OutcomeFail(o, e.what());
    }
    OutcomeTakeMonError(o);
}

void OutcomeMerge(Outcome& o, const Outcome& other)
{
    TRACE("Outcome.OutcomeMerge");
    auto add = [](std::vector<std::string>& to, const std::vector<std::string>& from) {
        to.insert(to.end(), from.begin(), from.end());
    };
    add(o.Written, other.Written);
    add(o.Skipped, other.Skipped);
    add(o.Warnings, other.Warnings);
    add(o.Errors, other.Errors);
    o.StoreChanged = o.StoreChanged || other.StoreChanged;
    o.Declined = o.Declined || other.Declined;
    if (!other.Select.empty()) o.Select = other.Select;
}

void OutcomeShow(const Outcome& o)
{
    TRACE("Outcome.OutcomeShow");
    for (const std::string& e : o.Errors) Ui().ErrorBox(e);
    for (const std::string& w : o.Warnings) Ui().WarningBox(w);
    if (!o.Result.empty()) Ui().InfoBox(o.Result);
}

int AskClash(const Answers& ask, const std::string& caption, const std::string& text)
{
    TRACE("Outcome.AskClash");
    int answer = ask.Clash ? ask.Clash(caption, text) : Ui().OverwriteDialog(caption, text);
    return answer < OC_OVERWRITE || answer > OC_ABORT ? OC_ABORT : answer;
}

bool AskRenameTo(const Answers& ask, std::string& name)
{
    TRACE("Outcome.AskRenameTo");
    return ask.RenameTo ? ask.RenameTo(name) : Ui().PromptText("Rename", "Enter new name", name);
}

bool AskReplaceFile(const Answers& ask, const std::string& file)
{
    TRACE("Outcome.AskReplaceFile");
    return ask.ReplaceFile ? ask.ReplaceFile(file) : Ui().YesNo(GAL_EXISTS, 2) == "Y";
}

int AskPrefixClash(const Answers& ask, std::string& prefix)
{
    TRACE("Outcome.AskPrefixClash");
    if (ask.PrefixClash) return ask.PrefixClash(prefix);
    const std::string a = Ui().YesNoCancel(GAL_PREFIX_CLASH, 3);
    if (a == "Y") return PC_OVERWRITE;
    if (a != "N") return PC_CANCEL;
    return Ui().PromptText("Open Gallery", "Enter new image prefix", prefix) ? PC_RENAME : PC_CANCEL;
}

bool AskConfirmDelete(const Answers& ask, const std::vector<std::string>& names)
{
    TRACE("Outcome.AskConfirmDelete");
    return ask.ConfirmDelete ? ask.ConfirmDelete(names) : Ui().YesNo(StoreDeleteQuestion(names), 2) == "Y";
}

bool AskConfirmRestore(const Answers& ask)
{
    TRACE("Outcome.AskConfirmRestore");
    return ask.ConfirmRestore ? ask.ConfirmRestore() : Ui().YesNo(RESTORE_QUESTION, 1) == "Y";
}

bool AskDeleteStore(const Answers& ask)
{
    TRACE("Outcome.AskDeleteStore");
    return ask.DeleteStore ? ask.DeleteStore() : Ui().YesNo(UNINSTALL_QUESTION, 2) == "Y";
}

std::string StoreDeleteQuestion(const std::vector<std::string>& names)
{
    TRACE("StoreCommands.StoreDeleteQuestion");
    if (names.empty()) return std::string();
    if (names.size() == 1) return "Delete " + names[0] + "?";
    return "Delete " + std::to_string(names.size()) + " selected logos?";
}
