// kvs gallery create|open: the window's gallery commands with the file, prefix and images given
// as arguments. The named images stand for the highlighted rows of the window's list.
#include <filesystem>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/Gallery.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreView.h"

namespace {

// Answers the file dialogs with FILE and the prompts and the prefix question from the options;
// the summary box goes to standard output. Everything else goes to the console.
class GalleryUi : public UiServices {
public:
    GalleryUi(UiServices& base, std::string file) : base_(base), file_(std::move(file)) {}
    std::string CreatePrefix;  // answer of "Enter gallery image prefix"; empty keeps the proposal
    bool Overwrite = false;    // answer Yes to the prefix clash question
    bool Summary = false;      // the result box was shown

    void ErrorBox(const std::string& t) override { base_.ErrorBox(t); }
    void WarningBox(const std::string& t) override { base_.WarningBox(t); }
    void InfoBox(const std::string& t) override
    {
        Summary = true;
        KvsOut(t);
    }
    std::string YesNo(const std::string& t, int d) override { return base_.YesNo(t, d); }
    std::string YesNoCancel(const std::string& t, int d) override
    {
        if (Overwrite && t == GAL_PREFIX_CLASH) return "Y";
        return base_.YesNoCancel(t, d);
    }
    bool PromptText(const std::string& c, const std::string& l, std::string& t) override
    {
        if (c == "Create Gallery") {
            if (!CreatePrefix.empty()) t = CreatePrefix;
            return true;
        }
        return base_.PromptText(c, l, t);
    }
    int OverwriteDialog(const std::string& c, const std::string& t) override { return base_.OverwriteDialog(c, t); }
    bool ResizeModeDialog() override { return true; }
    std::string FileOpenDlg(const std::string&, std::string&, const std::string&, int&) override { return file_; }
    std::vector<std::string> MultiFileOpenDlg(const std::string&, std::string&, const std::string&, int&) override
    {
        return {file_};
    }
    std::string FileSaveDlg(const std::string&, std::string&, const std::string&, int&, const std::string&) override
    {
        return file_;
    }
    void ShowStatus(const std::string& t, bool b) override { base_.ShowStatus(t, b); }
    void SetBusy(bool b) override { base_.SetBusy(b); }
    void ProcessPendingMessages() override { base_.ProcessPendingMessages(); }

private:
    UiServices& base_;
    std::string file_;
};

std::string Absolute_(const std::string& file)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(file, ec);
    return ec ? file : p.lexically_normal().string();
}

// Runs body with ui installed; the previous Ui() comes back on every path.
int WithUi_(UiServices& ui, const std::function<void()>& body)
{
    UiServices* old = SetUi(&ui);
    try {
        body();
    } catch (...) {
        SetUi(old);
        throw;
    }
    SetUi(old);
    return 0;
}

int GalleryCreate_(std::vector<std::string> rest)
{
    TRACE("CmdGallery.GalleryCreate_");
    std::string prefix;
    const int r = KvsTakeOption(rest, "--prefix", prefix);
    if (r < 0) return KvsUsageError("gallery", "--prefix needs a value");
    if (!rest.empty() && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("gallery", "unknown option '" + bad + "'");
    if (rest.empty()) return KvsUsageError("gallery", "create expects FILE and the NAMEs of the images");
    const std::string file = Absolute_(rest[0]);
    const std::vector<std::string> typed(rest.begin() + 1, rest.end());
    return KvsRunStatus([&] {
        KvsStartUp();
        if (!Images) StoreLoad();
        std::vector<std::string> names;
        for (const std::string& t : typed) {
            int32_t i = ImageListFind(Images, t);
            if (i == Undef) i = ImageListFind(Images, t + ".png");
            if (i == Undef) return KvsFail("No image named \"" + t + "\" in the store.");
            names.push_back(EntryName(*Images->Items[i]));
        }
        NamedStoreView view(names);
        StoreView* oldView = SetStoreView(&view);
        GalleryUi ui(Ui(), file);
        ui.CreatePrefix = prefix;
        try {
            WithUi_(ui, [] { GalCreateCommand(); });
        } catch (...) {
            SetStoreView(oldView);
            throw;
        }
        SetStoreView(oldView);
        SaveSettings();
        return ui.Summary ? static_cast<int>(KVS_EXIT_OK) : static_cast<int>(KVS_EXIT_FAILED);
    });
}

int GalleryOpen_(std::vector<std::string> rest)
{
    TRACE("CmdGallery.GalleryOpen_");
    std::string as;
    const int r = KvsTakeOption(rest, "--as", as);
    if (r < 0) return KvsUsageError("gallery", "--as needs a value");
    const bool overwrite = KvsTakeFlag(rest, "--overwrite");
    if (r > 0 && overwrite) return KvsUsageError("gallery", "--as and --overwrite exclude each other");
    if (r > 0 && as.empty()) return KvsUsageError("gallery", "--as needs a prefix");
    if (!rest.empty() && rest[0] == "--") rest.erase(rest.begin());
    const std::string bad = KvsFirstOption(rest);
    if (!bad.empty()) return KvsUsageError("gallery", "unknown option '" + bad + "'");
    if (rest.size() != 1) return KvsUsageError("gallery", "open expects one FILE");
    const std::string file = Absolute_(rest[0]);
    return KvsRunStatus([&] {
        KvsStartUp();
        if (!Images) StoreLoad();
        GalleryUi ui(Ui(), file);
        ui.Overwrite = overwrite;
        WithUi_(ui, [&] { GalOpenCommand(as); });
        SaveSettings();
        return ui.Summary ? static_cast<int>(KVS_EXIT_OK) : static_cast<int>(KVS_EXIT_FAILED);
    });
}

}  // namespace

int CmdGallery(const std::vector<std::string>& args)
{
    TRACE("CmdGallery.CmdGallery");
    if (args.empty()) return KvsUsageError("gallery", "expected create or open");
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "create") return GalleryCreate_(rest);
    if (args[0] == "open") return GalleryOpen_(rest);
    return KvsUsageError("gallery", "unknown action '" + args[0] + "' (create or open)");
}
