// kvs add: the window's "Add" command with the files, resize mode, prefix and clash answer given
// as arguments.
#include <string>
#include <vector>

#include "base/Mon.h"
#include "base/UiServices.h"
#include "cli/ConsoleUi.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/Names.h"
#include "core/Settings.h"

namespace {

// Forwards everything to the console except the clash dialog, which --clash answers.
class ClashUi : public UiServices {
public:
    ClashUi(UiServices& base, int clash, UiServices* asker) : base_(base), clash_(clash), asker_(asker) {}
    void ErrorBox(const std::string& t) override { base_.ErrorBox(t); }
    void WarningBox(const std::string& t) override { base_.WarningBox(t); }
    void InfoBox(const std::string& t) override { base_.InfoBox(t); }
    std::string YesNo(const std::string& t, int d) override { return base_.YesNo(t, d); }
    std::string YesNoCancel(const std::string& t, int d) override { return base_.YesNoCancel(t, d); }
    bool PromptText(const std::string& c, const std::string& l, std::string& t) override
    {
        return (asker_ ? *asker_ : base_).PromptText(c, l, t);
    }
    int OverwriteDialog(const std::string& c, const std::string& t) override
    {
        if (clash_ != OC_NONE) return clash_;
        return (asker_ ? *asker_ : base_).OverwriteDialog(c, t);
    }
    bool ResizeModeDialog() override { return true; }
    std::string FileOpenDlg(const std::string& t, std::string& f, const std::string& x, int& i) override
    {
        return base_.FileOpenDlg(t, f, x, i);
    }
    std::vector<std::string> MultiFileOpenDlg(const std::string& t, std::string& f, const std::string& x,
                                              int& i) override
    {
        return base_.MultiFileOpenDlg(t, f, x, i);
    }
    std::string FileSaveDlg(const std::string& t, std::string& f, const std::string& p, int& i,
                            const std::string& x) override
    {
        return base_.FileSaveDlg(t, f, p, i, x);
    }
    void ShowStatus(const std::string& t, bool b) override { base_.ShowStatus(t, b); }
    void SetBusy(bool b) override { base_.SetBusy(b); }
    void ProcessPendingMessages() override { base_.ProcessPendingMessages(); }

private:
    UiServices& base_;
    int clash_;
    UiServices* asker_;
};

}  // namespace

int CmdAdd(const std::vector<std::string>& args)
{
    TRACE("CmdAdd.CmdAdd");
    std::vector<std::string> rest = args;
    std::string mode, prefix, clash;
    int r1 = KvsTakeOption(rest, "--mode", mode);
    int r2 = KvsTakeOption(rest, "--prefix", prefix);
    int r3 = KvsTakeOption(rest, "--clash", clash);
    if (r1 < 0) return KvsUsageError("add", "--mode needs a value");
    if (r2 < 0) return KvsUsageError("add", "--prefix needs a value");
    if (r3 < 0) return KvsUsageError("add", "--clash needs a value");
    int resizeMode = -1;
    if (r1 > 0) {
        if (mode == "border") resizeMode = RM_BORDER;
        else if (mode == "crop") resizeMode = RM_CROP;
        else if (mode == "stretch") resizeMode = RM_STRETCH;
        else return KvsUsageError("add", "bad --mode '" + mode + "' (border, crop or stretch)");
    }
    int choice = OC_NONE;
    bool ask = false;
    if (r3 > 0) {
        if (clash == "ask") ask = true;
        else if (clash == "overwrite") choice = OC_OVERWRITE;
        else if (clash == "skip") choice = OC_SKIP;
        else if (clash == "abort") choice = OC_ABORT;
        else return KvsUsageError("add", "bad --clash '" + clash + "' (ask, overwrite, skip or abort)");
    }
    if (rest.size() > 0 && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("add", "unknown option '" + bad + "'");
    if (rest.empty()) return KvsUsageError("add", "expected at least one FILE");

    return KvsRunStatus([&] {
        KvsStartUp();
        if (!Images) StoreLoad();
        // What the resize-mode dialog would store.
        if (resizeMode >= 0) ResizeMode = resizeMode;
        if (r2 > 0) DefPrefix = SanitizeName(prefix, false);
        // --clash ask asks on a terminal whatever --yes/--no say, and aborts when no answer comes.
        ConsoleUi asker(CONSOLE_ASK);
        ClashUi ui(Ui(), choice, ask ? &asker : nullptr);
        UiServices* old = SetUi(&ui);
        OverwriteChoice = OC_NONE;
        AddResult result;
        try {
            AddImages(rest, &result);
        } catch (...) {
            SetUi(old);
            throw;
        }
        SetUi(old);
        if (resizeMode >= 0 || r2 > 0) SaveSettings();
        std::string text;
        for (const std::string& n : result.Stored) text += n + "\n";
        if (!text.empty()) KvsOut(text);
        if (!result.Error.empty()) return KvsFail(result.Error);
        if (result.Aborted) return KvsFail("Adding aborted.");
        return result.Failed > 0 ? static_cast<int>(KVS_EXIT_FAILED) : static_cast<int>(KVS_EXIT_OK);
    });
}
