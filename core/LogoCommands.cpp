#include "core/LogoCommands.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "core/AutoChange.h"
#include "core/Backup.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Options.h"
#include "core/Settings.h"
#include "core/Shuffle.h"
#include "core/StoreCommands.h"
#include "core/StoreLock.h"

static const int Positions_[3] = {POS_STARTUP, POS_WAIT, POS_TURNOFF};

// When no position had an image, says why instead of listing every kept position: an empty
// store, or no image chosen for any position.
static void FailWhenNothingBuilt_(Outcome& o)
{
    TRACE("LogoCommands.FailWhenNothingBuilt_");
    if (!o.Written.empty() || !OutcomeOk(o)) return;
    o.Skipped.clear();
    OutcomeFail(o, ImageListCount(Images) == 0 ? NO_IMAGES : NO_ELIGIBLE_IMAGES);
}

std::array<std::string, 3> LogoProposedMessages()
{
    TRACE("LogoCommands.LogoProposedMessages");
    // The counters first move on by the sets Windows used; Set as Logo reports what went wrong.
    AutoChangeCatchUp();
    std::array<std::string, 3> messages;
    const auto pick = [&] {
        for (int i = 0; i < 3; ++i) messages[i] = PickMessage(Positions_[i], GetMessageText(Positions_[i]));
    };
    // A proposal is no reason to fail: with the settings held elsewhere it picks on from what this
    // program read.
    if (!SettingsAdvanceCounters(pick)) pick();
    return messages;
}

Outcome LogoSet(const std::string& typedName, int positions, const std::array<std::optional<std::string>, 3>& messages)
{
    TRACE("LogoCommands.LogoSet");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    const std::string name = StoreResolveName(typedName);
    const int32_t index = name.empty() ? Undef : ImageListFind(Images, name);
    if (index == Undef) {
        OutcomeFail(o, "No image named \"" + typedName + "\" in the store.");
        return o;
    }
    if ((positions & POS_ALL) == 0) {
        o.Skipped.push_back(NOTHING_SET);
        return o;
    }
    // The starts Windows had since the last change move the counters before this pick does.
    OutcomeMerge(o, AutoChangeCatchUp());
    // Picked only now: a set that fails on its name or its positions moves no counter.
    std::array<std::string, 3> chosen;
    const bool pick = !messages[0] || !messages[1] || !messages[2];
    if (pick) chosen = LogoProposedMessages();
    for (int i = 0; i < 3; ++i)
        if (messages[i]) chosen[i] = *messages[i];
    const ImageEntry entry = *ImageListGet(Images, index);
    std::string done;
    for (int i = 0; i < 3; ++i) {
        if (!(positions & Positions_[i])) continue;
        const size_t errors = o.Errors.size();
        OutcomeRun(o, [&] { BuildLogo(entry, Positions_[i], chosen[i]); });
        if (o.Errors.size() != errors) continue;
        o.Written.push_back(GetLogoFileName(Positions_[i]));
        done += (done.empty() ? "" : ", ") + LogoPositionName(Positions_[i]) + " (" + o.Written.back() + ")";
    }
    if (!done.empty()) o.Result = EntryName(entry) + " set as logo: " + done;
    OutcomeMerge(o, AutoChangeRefill());
    return o;
}

// A change of the logo files by logoMethod between counting the sets Windows used (the counters
// move on by those picks first) and preparing the sets anew from where this change left them.
static Outcome Change_(int32_t logoMethod)
{
    TRACE("LogoCommands.Change_");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o = AutoChangeCatchUp();
    OutcomeMerge(o, ChangeLogos(logoMethod));
    OutcomeMerge(o, AutoChangeRefill());
    return o;
}

Outcome LogoChange()
{
    TRACE("LogoCommands.LogoChange");
    return Change_(LogoPickMethod);
}

Outcome LogoShuffle()
{
    TRACE("LogoCommands.LogoShuffle");
    Ui().ShowStatus("Setting logos...", true);
    Outcome o;
    OutcomeRun(o, [&] { o = Change_(PICK_RANDOM); });
    FailWhenNothingBuilt_(o);
    if (OutcomeOk(o)) o.Result = SHUFFLE_DONE;
    return o;
}

Outcome LogoInstall()
{
    TRACE("LogoCommands.LogoInstall");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o = AutoChangeCatchUp();
    OutcomeMerge(o, ChangeLogos(LogoPickMethod));
    FailWhenNothingBuilt_(o);
    OutcomeMerge(o, OptionsSetRunEntry(true));
    OutcomeMerge(o, OptionsEnsureLogoOption());
    // Sets of nothing would be no change: the step comes with logos to show.
    if (!o.Written.empty()) {
        const Outcome step = AutoChangeInstall();
        // On until the user turns it off, so later commands keep the sets filled.
        if (OutcomeOk(step)) AutoChange = true;
        OutcomeMerge(o, step);
    }
    if (OutcomeOk(o)) o.Result = INST_MESSAGE;
    return o;
}

// Carries out restore.bat; each line that could not be carried out is an error of o.
static void Restore_(Outcome& o)
{
    TRACE("LogoCommands.Restore_");
    for (const std::string& e : RestoreLogos()) OutcomeFail(o, e);
}

Outcome LogoRestore(const Answers& ask)
{
    TRACE("LogoCommands.LogoRestore");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o = AutoChangeCatchUp();
    if (!AskConfirmRestore(ask)) {
        o.Declined = true;
        o.Skipped.push_back("Nothing was restored.");
        return o;
    }
    if (!RestoreFileExists()) {
        OutcomeFail(o, NOTHING_RESTORED);
        return o;
    }
    Restore_(o);
    if (OutcomeOk(o)) o.Result = RESTORE_DONE;
    return o;
}

Outcome LogoUninstall(const Answers& ask)
{
    TRACE("LogoCommands.LogoUninstall");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o = AutoChangeCatchUp();
    std::vector<std::string> undone;
    const bool step = AutoChangeInstalled();
    const size_t errors = o.Errors.size();
    OutcomeMerge(o, OptionsSetRunEntry(false));
    OutcomeMerge(o, AutoChangeRemove());
    // Off for good: no later command prepares sets or installs the step again.
    AutoChange = false;
    if (o.Errors.size() == errors)
        undone.push_back(step ? "the automatic change is off (its Run entry, its line in AUTOEXEC.BAT and its logo sets are removed)"
                              : "the automatic change is off (its Run entry is removed)");
    if (RestoreFileExists()) {
        const size_t before = o.Errors.size();
        Restore_(o);
        if (o.Errors.size() == before) undone.push_back("the previous logos are back");
    }
    std::string logoOption;
    OutcomeMerge(o, OptionsRestoreLogoOption(logoOption));
    if (!logoOption.empty()) undone.push_back("\"Logo=" + logoOption + "\" is back in MSDOS.SYS");
    if (AskDeleteStore(ask)) {
        if (!UninstallDeleteStore()) OutcomeFail(o, "Couldn't delete every stored image.");
        else undone.push_back("the stored images are deleted");
        o.StoreChanged = true;
    }
    for (size_t i = 0; i < undone.size(); ++i)
        o.Result += (i == 0 ? "Undone: " : i + 1 == undone.size() ? " and " : ", ") + undone[i];
    if (!o.Result.empty()) o.Result += ".";
    return o;
}
