#include "core/StoreCommands.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/ImageStore.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "core/StoreLock.h"

#include <filesystem>

namespace fs = std::filesystem;

static void Add_(StoreResult& r, int kind, const std::string& text)
{
    TRACE("StoreCommands.Add_");
    StoreMessage m;
    m.Kind = kind;
    m.Text = text;
    r.Messages.push_back(m);
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
    if (SanitizeChars(RemoveAll(newBase, NAME_SEPARATOR)).empty()) {
        ++r.Failed;
        Add_(r, SM_ERROR, RENAME_EMPTY);
        return r;
    }
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
        r.Cause = OUTCOME_CAUSE_RENAME_REFUSED;
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
    std::string why;
    for (const std::string& name : names) {
        const std::string newName = prefix + NameAfterSeparator(name, true);
        std::error_code ec;
        const bool taken = fs::exists(GetStorageDir() + newName, ec) && !SameImageName(name, newName);
        if (!taken && RenameImage(name, newName)) {
            ++r.Succeeded;
            if (r.SelectName.empty()) r.SelectName = newName;
        } else {
            ++r.Failed;
            why += "\r\n" + name + ": " +
                   (taken ? "an image named " + newName + " exists already" : std::string("the file could not be renamed"));
        }
    }
    ImageListSort(Images);
    r.Changed = true;
    // Both counts and every name that failed in one message: one box in the window.
    std::string text = "Images renamed: " + std::to_string(r.Succeeded);
    if (r.Failed > 0) text += "\r\nImages that couldn't be renamed: " + std::to_string(r.Failed) + why;
    Add_(r, r.Failed > 0 ? SM_ERROR : SM_INFO, text);
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

// ---------------------------------------------------------------- the commands

std::string StoreResolveName(const std::string& typed)
{
    TRACE("StoreCommands.StoreResolveName");
    if (!Images) StoreLoad();
    int32_t i = ImageListFind(Images, typed);
    if (i == Undef) i = ImageListFind(Images, typed + ".png");
    return i == Undef ? std::string() : EntryName(*Images->Items[i]);
}

// The messages of r into o (errors, warnings, the information as the result) and the index
// written when the store changed.
static Outcome Finish_(const StoreResult& r)
{
    TRACE("StoreCommands.Finish_");
    Outcome o;
    for (const StoreMessage& m : r.Messages) {
        if (m.Kind == SM_ERROR) OutcomeFail(o, m.Text);
        else if (m.Kind == SM_WARNING) o.Warnings.push_back(m.Text);
        else o.Result += (o.Result.empty() ? "" : "\r\n") + m.Text;
    }
    o.StoreChanged = r.Changed;
    o.Select = r.SelectName;
    o.Cause = r.Cause;
    if (r.Changed) OutcomeRun(o, [] { StoreWriteIndex(); });
    return o;
}

Outcome StoreDelete(const std::vector<std::string>& names, const Answers& ask)
{
    TRACE("StoreCommands.StoreDelete");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    if (names.empty()) return Outcome();
    if (!AskConfirmDelete(ask, names)) {
        Outcome o;
        o.Declined = true;
        o.Skipped.push_back("Nothing was deleted.");
        return o;
    }
    return Finish_(StoreDeleteImages(names));
}

Outcome StoreRename(const std::string& currentName, const std::string& typed)
{
    TRACE("StoreCommands.StoreRename");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    const StoreResult r = StoreRenameImage(currentName, typed);
    Outcome o = Finish_(r);
    if (OutcomeOk(o) || !r.Changed) return o;
    // The index keeps the image's positions: a file renamed without it would lose them, so the
    // file goes back to its old name.
    const std::string why = o.Errors.front();
    const bool back = RenameImage(r.SelectName, currentName);
    ImageListSort(Images);
    o = Outcome();
    o.StoreChanged = !back;
    OutcomeFail(o, "Couldn't rename \"" + currentName + "\" to \"" + r.SelectName + "\": the image list " +
                       IMAGE_INDEX_FILE + " could not be written: " + why + (back ? " Nothing was renamed." : ""));
    return o;
}

Outcome StorePrefix(const std::vector<std::string>& names, const std::string& typed)
{
    TRACE("StoreCommands.StorePrefix");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    return Finish_(StoreChangePrefix(names, typed));
}

Outcome StorePositions(const std::vector<std::string>& names, int mask)
{
    TRACE("StoreCommands.StorePositions");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    StoreResult r;
    r.Changed = StoreSetPositions(names, mask) > 0;
    return Finish_(r);
}
