#include "core/StoreCommands.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/ImageStore.h"
#include "core/Names.h"
#include "core/Settings.h"

static void Add_(StoreResult& r, int kind, const std::string& text)
{
    TRACE("StoreCommands.Add_");
    StoreMessage m;
    m.Kind = kind;
    m.Text = text;
    r.Messages.push_back(m);
}

void StoreShowMessages(const StoreResult& result)
{
    TRACE("StoreCommands.StoreShowMessages");
    for (const StoreMessage& m : result.Messages) {
        if (m.Kind == SM_ERROR) Ui().ErrorBox(m.Text);
        else if (m.Kind == SM_WARNING) Ui().WarningBox(m.Text);
        else Ui().InfoBox(m.Text);
    }
}

std::string StoreDeleteQuestion(const std::vector<std::string>& names)
{
    TRACE("StoreCommands.StoreDeleteQuestion");
    if (names.empty()) return std::string();
    if (names.size() == 1) return "Delete " + names[0] + "?";
    return "Delete " + std::to_string(names.size()) + " selected logos?";
}

StoreResult StoreDeleteImages(const std::vector<std::string>& names)
{
    TRACE("StoreCommands.StoreDeleteImages");
    StoreResult r;
    const std::string dir = GetStorageDir();
    for (size_t k = names.size(); k-- > 0;) {
        const std::string& name = names[k];
        int32_t index = ImageListFind(Images, name);
        bool ok = false;
        const std::string stored = index != Undef ? EntryName(*Images->Items[index]) : std::string();
        if (IsSafeStoredName(stored)) {
            MonBlockTransparent([&] { FDelete(dir + stored); });
            ok = MonOK();
            MonClearError();
            if (ok) {
                ImageListDelete(Images, index);
                r.Changed = true;
            }
        }
        if (ok) {
            ++r.Succeeded;
        } else {
            ++r.Failed;
            Add_(r, SM_ERROR, "Couldn't delete image file: \"" + name + "\"");
        }
    }
    return r;
}

std::string StoreRenameProposal(const std::string& currentName)
{
    TRACE("StoreCommands.StoreRenameProposal");
    return currentName.size() >= 4 ? currentName.substr(0, currentName.size() - 4) : std::string();
}

StoreResult StoreRenameImage(const std::string& currentName, const std::string& typed)
{
    TRACE("StoreCommands.StoreRenameImage");
    StoreResult r;
    if (currentName.empty() || ImageListFind(Images, currentName) == Undef) {
        Add_(r, SM_WARNING, "No image selected for renaming.");
        return r;
    }
    const std::string oldBase = StoreRenameProposal(currentName);
    const std::string newBase = SanitizeChars(typed);
    if (SameImageName(newBase, oldBase)) return r;
    const std::string newName = newBase + ".png";
    if (ImageListFind(Images, newName) != Undef) {
        ++r.Failed;
        Add_(r, SM_ERROR, "There already exists an image with that name, please select another one.");
        return r;
    }
    // The stored name is renamed as it stands, so a ".PNG" file renames too.
    if (RenameImage(currentName, newName)) {
        ImageListSort(Images);
        ++r.Succeeded;
        r.Changed = true;
        r.SelectName = newName;
    } else {
        ++r.Failed;
        Add_(r, SM_ERROR,
             "Couldn't rename image. Please use only letters and numbers for the image name. If the files are "
             "changed in another application press F5 to refresh the list.");
    }
    return r;
}

std::string StorePrefixProposal(const std::string& currentName)
{
    TRACE("StoreCommands.StorePrefixProposal");
    return NameBeforeSeparator(currentName, false);
}

StoreResult StoreChangePrefix(const std::vector<std::string>& names, const std::string& typed)
{
    TRACE("StoreCommands.StoreChangePrefix");
    StoreResult r;
    if (names.empty()) {
        Add_(r, SM_WARNING, "No images selected.");
        return r;
    }
    const std::string prefix = SanitizeName(typed, true);
    for (const std::string& name : names) {
        const std::string newName = prefix + NameAfterSeparator(name, true);
        if (RenameImage(name, newName)) {
            ++r.Succeeded;
            if (r.SelectName.empty()) r.SelectName = newName;
        } else {
            ++r.Failed;
        }
    }
    ImageListSort(Images);
    r.Changed = true;
    std::string text = "Images renamed: " + std::to_string(r.Succeeded);
    if (r.Failed > 0) text += "\r\nImages that couldn't be renamed: " + std::to_string(r.Failed);
    Add_(r, SM_INFO, text);
    return r;
}

int StoreHighlightedPositions(const std::vector<std::string>& names)
{
    TRACE("StoreCommands.StoreHighlightedPositions");
    int mask = 0;
    for (const std::string& name : names) {
        int32_t i = ImageListFind(Images, name);
        if (i != Undef) mask |= Images->Items[i]->Positions;
    }
    return mask;
}

int StoreSetPositions(const std::vector<std::string>& names, int mask)
{
    TRACE("StoreCommands.StoreSetPositions");
    int n = 0;
    for (const std::string& name : names) {
        int32_t i = ImageListFind(Images, name);
        if (i == Undef) continue;
        Images->Items[i]->Positions = mask;
        ++n;
    }
    return n;
}
