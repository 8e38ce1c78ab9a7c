#include "core/AddImages.h"

#include "base/Basic.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "base/UiServices.h"
#include "core/ImageStore.h"
#include "core/LogoFit.h"
#include "core/LogoBuilder.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "core/StoreView.h"
#include "formats/FFDispatch.h"
#include "formats/FFRows.h"
#include "image/ImgOrient.h"
#include "image/ImgBasic.h"
#include "image/ImgResize.h"

#include <filesystem>

namespace fs = std::filesystem;

int32_t OverwriteChoice = OC_NONE;

static int LoadFailures_ = 0;     // files of the running batch that could not be loaded or stored
// Set while ImagesAdd runs: a file's failure becomes an error of its outcome, shown once by the
// front-end, instead of a box of its own.
static std::vector<std::string>* FileErrors_ = nullptr;

static void FileFailed_(const std::string& text)
{
    ++LoadFailures_;
    if (FileErrors_) FileErrors_->push_back(text);
    else Ui().ErrorBox(text);
}
static const Answers* Ask_ = nullptr;  // the answers of the running batch; none: ask through Ui()

static std::string FileNameOf_(const std::string& path)
{
    return fs::path(path).filename().string();
}

static std::string FolderOf_(const std::string& path)
{
    const size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

static std::string ExtOf_(const std::string& name)
{
    const size_t p = name.find_last_of("./");
    return (p == std::string::npos || name[p] != '.') ? std::string() : name.substr(p);
}

// A plain file name of at most 127 characters; a long stem is cut so the extension stays.
static std::string StoreFileName_(const std::string& name)
{
    TRACE("AddImages.StoreFileName_");
    if (name.size() <= static_cast<size_t>(IMAGE_NAME_MAX)) return SafeStoredName(name);
    const std::string ext = ExtOf_(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    return SafeStoredName(NameCutUtf8(stem, static_cast<size_t>(IMAGE_NAME_MAX) - std::min(ext.size(), static_cast<size_t>(IMAGE_NAME_MAX))) + ext);
}

std::string AddTargetPath(const std::string& source)
{
    TRACE("AddImages.AddTargetPath");
    const std::string rest = ForceFileExt(NameAfterSeparator(FileNameOf_(source), true), ".png");
    return GetStorageDir() + SafeStoredName(NameJoinPrefix(DefPrefix, rest, IMAGE_NAME_MAX));
}

std::string ResolveNameClash(const std::string& target)
{
    TRACE("AddImages.ResolveNameClash");
    std::string t = target;
    for (;;) {
        const std::string folder = FolderOf_(t);
        const std::string existing = StoredSpelling(folder, FileNameOf_(t));
        if (existing.empty() || OverwriteChoice == OC_OVERWRITE_ALL) {
            // Overwriting must hit the file the store already knows, whatever its spelling.
            return existing.empty() ? t : folder + existing;
        }
        if (OverwriteChoice == OC_SKIP_ALL || OverwriteChoice == OC_ABORT) return std::string();
        const std::string name = FileNameOf_(t);
        const Answers none;
        const int answer = AskClash(Ask_ ? *Ask_ : none, CLASH_CAPTION,
                                    "Image \"" + name + "\" already exists in the destination folder. What to do with it?");
        OverwriteChoice = answer;
        switch (answer) {
        case OC_OVERWRITE:
        case OC_OVERWRITE_ALL:
            return folder + existing;
        case OC_RENAME: {
            std::string typed = ForceFileExt(name, "");
            if (!AskRenameTo(Ask_ ? *Ask_ : none, typed)) continue;  // the clash dialog again
            if (SanitizeChars(typed).empty()) return std::string();
            t = folder + StoreFileName_(typed + ExtOf_(name));
            continue;
        }
        default:
            return std::string();
        }
    }
}

bool ImagesAddOne(const std::string& source, std::string& target, ImageEntry& entry)
{
    TRACE("AddImages.ImagesAddOne");
    const bool isSys = SameText(ExtOf_(FileNameOf_(source)), ".sys");
    Image img;
    bool loaded = false;
    MonBlockTransparent([&] {
        LogoFitLoad(source, isSys ? FMT_BMP : Undef, ResizeMode, img);
        loaded = true;
    });
    loaded = loaded && MonOK();
    const std::string reason = loaded ? std::string() : MonErrorText();
    MonClearError();
    if (!loaded) {
        ImgFree(img);
        FileFailed_("Error loading \"" + source + "\"\n" + reason);
        return false;
    }
    bool stored = false;
    MonBlock([&] {
        target = ResolveNameClash(target);
        if (OverwriteChoice == OC_ABORT || target.empty()) {
            target.clear();
            ImgFree(img);
            return;
        }
        if (!MakeLongDir(FolderOf_(target))) {
            OverwriteChoice = OC_ABORT;
            ImgFree(img);
            Ui().ErrorBox(STORAGE_DIR_ERROR);
            return;
        }
        const bool fromLogo = isSys && img.Bpp == 8;
        if (!fromLogo) ReduceToLogoPalette(img);
        if (!SaveStoredImage(target, img)) {
            // Never enter an image whose file was not written.
            ImgFree(img);
            FileFailed_("Error saving \"" + target + "\"");
            target.clear();
            return;
        }
        ImgFree(img);
        ImageEntryInit(entry);
        EntrySetName(entry, FileNameOf_(target));
        entry.Positions = POS_ALL;
        entry.Reserved = 0;
        std::error_code ec;
        const uintmax_t size = fs::file_size(target, ec);
        entry.FileSize = ec ? 0 : static_cast<int32_t>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
        entry.FromLogoFile = fromLogo ? -1 : 0;
        entry.AnimStart = fromLogo ? ReadLogoAnimStart(source) : 0;
        stored = true;
    });
    return stored;
}

void ImagesAddBatch(const std::vector<std::string>& files, AddResult* result)
{
    TRACE("AddImages.ImagesAddBatch");
    if (files.empty()) return;
    if (!Images) StoreLoad();
    std::string lastName;
    StoreView& view = StoreViewGet();
    Ui().SetBusy(true);
    LoadFailures_ = 0;
    const int n = static_cast<int>(files.size());
    MonBlockTransparent([&] {
        for (int i = 0; i < n; ++i) {
            std::string target = AddTargetPath(files[i]);
            Ui().ShowStatus("Adding image \"" + FileNameOf_(files[i]) + "\" (file " + std::to_string(i + 1) + " of " +
                                std::to_string(n) + "), press ESC to abort...",
                            true);
            ImageEntry entry;
            ImageEntryInit(entry);
            const bool ok = ImagesAddOne(files[i], target, entry);
            if (OverwriteChoice == OC_ABORT) break;
            if (ok) {
                lastName = EntryName(entry);
                *ImageListFindOrAdd(Images, lastName) = entry;
                if (result) result->Stored.push_back(lastName);
                if (n > 1) view.ShowStoredImage(lastName);
            }
        }
    });
    if (!MonOK() && result) result->Error = MonErrorText();
    MonClearError();
    if (result) {
        result->Failed = LoadFailures_;
        result->Aborted = OverwriteChoice == OC_ABORT;
    }
    WriteImageIndex(Images, GetStorageDir());
    view.RefreshList(false);
    Ui().SetBusy(false);
    view.SelectImageByName(lastName);
}

Outcome ImagesAdd(const std::vector<std::string>& files, int resizeMode, const std::string& prefix, const Answers& ask)
{
    TRACE("AddImages.ImagesAdd");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    if (resizeMode >= RM_BORDER && resizeMode <= RM_STRETCH) ResizeMode = resizeMode;
    if (!prefix.empty()) DefPrefix = SanitizeName(prefix, false);
    OverwriteChoice = OC_NONE;
    AddResult r;
    Outcome o;
    Ask_ = &ask;
    std::vector<std::string> fileErrors;
    FileErrors_ = &fileErrors;
    OutcomeRun(o, [&] { ImagesAddBatch(files, &r); });
    FileErrors_ = nullptr;
    Ask_ = nullptr;
    o.Written = r.Stored;
    o.StoreChanged = !r.Stored.empty();
    if (!r.Stored.empty()) o.Select = r.Stored.back();
    // One error per file that failed; stopping on the user's own Abort or Esc is no error.
    for (const std::string& e : fileErrors) OutcomeFail(o, e);
    if (!r.Error.empty()) OutcomeFail(o, r.Error);
    if (r.Aborted) {
        o.Declined = true;
        o.Skipped.push_back("Adding aborted.");
    }
    return o;
}
