#include "ui/AskCommands.h"

#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/AddImages.h"
#include "core/Gallery.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"

#include <filesystem>

namespace fs = std::filesystem;

// The dialogs' filters, kept while the program runs.
static int AddFilterIndex_ = 1;
static int OpenFilterIndex_ = 1;

static std::string FolderOf_(const std::string& path)
{
    const size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

void AddSysToFilter(std::string& filter)
{
    TRACE("AskCommands.AddSysToFilter");
    // ";*.sys" joins the patterns of the first (all formats) entry.
    size_t first = filter.find('|');
    size_t second = first == std::string::npos ? std::string::npos : filter.find('|', first + 1);
    if (second != std::string::npos) filter.insert(second, ";*.sys");
    // "|SYS Files|*.sys" goes before the last entry (caption|pattern).
    size_t last = filter.rfind('|');
    size_t beforeLast = (last == std::string::npos || last == 0) ? std::string::npos : filter.rfind('|', last - 1);
    if (beforeLast != std::string::npos)
        filter.insert(beforeLast, "|SYS Files|*.sys");
    else
        filter += std::string(filter.empty() ? "" : "|") + "SYS Files|*.sys";
}

Outcome ImagesAddAsk()
{
    TRACE("AskCommands.ImagesAddAsk");
    OverwriteChoice = OC_NONE;
    std::string filter = FFMakeLoadFilter(FFC_STILL, FFF_LONG_NAMES);
    AddSysToFilter(filter);
    const std::vector<std::string> files = Ui().MultiFileOpenDlg(ADD_DIALOG_TITLE, FileOpenDir, filter, AddFilterIndex_);
    if (files.empty() || !Ui().ResizeModeDialog()) return Outcome();
    return ImagesAdd(files, ResizeMode, DefPrefix, Answers());
}

Outcome GalleryCreateAsk(const std::vector<std::string>& names)
{
    TRACE("AskCommands.GalleryCreateAsk");
    Outcome o;
    if (names.size() < 2) {
        o.Warnings.push_back(GAL_TOO_FEW);
        return o;
    }
    int filterIndex = 1;
    std::string folder = GalDir;
    std::string file = Ui().FileSaveDlg("Create New Gallery", folder, "MyGallery", filterIndex, GAL_FILTER);
    if (file.empty()) return o;
    if (fs::path(file).extension().empty()) file += ".gal";
    GalDir = FolderOf_(file);
    std::error_code ec;
    if (fs::exists(file, ec) && Ui().YesNo(GAL_EXISTS, 2) != "Y") return o;
    std::string prefix = GalPrefixProposal(file);
    if (!Ui().PromptText("Create Gallery", "Enter gallery image prefix", prefix)) return o;
    const std::string clean = SanitizeName(prefix, false);
    if (clean.empty() || clean.size() > static_cast<size_t>(GAL_PREFIX_MAX)) {
        o.Warnings.push_back(GAL_INVALID_PREFIX);
        return o;
    }
    Answers ask;
    ask.ReplaceFile = [](const std::string&) { return true; };  // asked above, before the prefix
    return GalleryCreate(file, prefix, names, ask);
}

Outcome GalleryOpenAsk()
{
    TRACE("AskCommands.GalleryOpenAsk");
    std::string folder = GalDir;
    const std::string file = Ui().FileOpenDlg("Open a Gallery", folder, GAL_FILTER, OpenFilterIndex_);
    if (file.empty()) return Outcome();
    GalDir = FolderOf_(file);
    return GalleryOpen(file, std::string(), Answers());
}
