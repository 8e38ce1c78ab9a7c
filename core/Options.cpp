#include "core/Options.h"

#include "base/Mon.h"
#include "base/StrUtil.h"
#include "core/AutoChange.h"
#include "core/LogoBuilder.h"
#include "core/ProgramDir.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "platform/DrivePath.h"
#include "platform/FileAttr.h"
#include "platform/ProfileFile.h"
#include "platform/SysInfo.h"

#include <sys/stat.h>

// win.ini keeps the "Logo" value of MSDOS.SYS that the program replaced, for uninstalling.
static constexpr const char* KEPT_SECTION = "Trelmark";
static constexpr const char* KEPT_LOGO_KEY = "Kvs-MsdosLogo";

static std::string MsdosSys_()
{
    const std::string path = DriveResolve(SysDriveRoot() + "MSDOS.SYS");
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? path : std::string();
}

static std::string KeptLogoOption_()
{
    std::string kept;
    ProfileReadString(KEPT_SECTION, KEPT_LOGO_KEY, "", kept, 64, "win.ini");
    return kept;
}

bool OptionsFindSetting(const std::string& key, SettingsPair& pair)
{
    TRACE("Options.OptionsFindSetting");
    for (const SettingsPair& p : SettingsList()) {
        if (SameText(p.key, key)) {
            pair = p;
            return true;
        }
    }
    return false;
}

Outcome OptionsSaveSettings()
{
    TRACE("Options.OptionsSaveSettings");
    Outcome o;
    OutcomeRun(o, [] {
        if (!SaveSettings())
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write the settings file \"" + GetProgramDir() + SETTINGS_FILE + "\".", __LINE__);
    });
    return o;
}

Outcome OptionsSetRunEntry(bool enable)
{
    TRACE("Options.OptionsSetRunEntry");
    Outcome o;
    OutcomeRun(o, [enable] {
        if (!SetAutoChangeRunEntry(enable))
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write the Run entry of the automatic change.", __LINE__);
    });
    return o;
}

Outcome OptionsEnsureLogoOption()
{
    TRACE("Options.OptionsEnsureLogoOption");
    // MSDOS.SYS is written under the Windows folder's lock like the logo files beside it.
    const StoreLockScope lock(LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    OutcomeRun(o, [] {
        const std::string path = MsdosSys_();
        std::string before;
        if (!path.empty()) ProfileReadString("Options", "Logo", "", before, 64, path);
        before = StrTrim(before);
        if (!before.empty() && before != "1" && KeptLogoOption_().empty() &&
            !(ProfileWriteString(KEPT_SECTION, KEPT_LOGO_KEY, before, "win.ini") && ProfileFlush("win.ini")))
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write \"win.ini\"; MSDOS.SYS was left as it is.", __LINE__);
        else if (!EnsureLogoOptionInMsdosSys())
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write \"MSDOS.SYS\".", __LINE__);
    });
    return o;
}

Outcome OptionsRestoreLogoOption(std::string& restored)
{
    TRACE("Options.OptionsRestoreLogoOption");
    restored.clear();
    const StoreLockScope lock(LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    OutcomeRun(o, [&] {
        const std::string kept = KeptLogoOption_();
        if (kept.empty()) return;
        const std::string path = MsdosSys_();
        if (!path.empty()) {
            int attrs = FileGetAttr(path);
            if (attrs < 0) attrs = 1;
            FileSetAttr(path, 32);
            const bool ok = ProfileWriteString("Options", "Logo", kept, path) && ProfileFlush(path);
            FileSetAttr(path, attrs);
            if (!ok) return MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write \"MSDOS.SYS\".", __LINE__);
            restored = kept;
        }
        if (!(ProfileDeleteKey(KEPT_SECTION, KEPT_LOGO_KEY, "win.ini") && ProfileFlush("win.ini")))
            MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write \"win.ini\".", __LINE__);
    });
    return o;
}

// The drive's DOS step follows AutoChange: installed when it was turned on (or set on by name),
// removed when it is off, else its sets refilled. A step that could not be installed leaves the
// setting off, so it never claims a change that does not happen.
static Outcome FollowAutoChange_(bool wasOn, bool setByName)
{
    TRACE("Options.FollowAutoChange_");
    if (!AutoChange) return AutoChangeRemove();
    if ((wasOn && !setByName) || AutoChangeInstalled()) return AutoChangeRefill();
    Outcome o = AutoChangeInstall();
    if (OutcomeOk(o)) return o;
    AutoChange = false;
    OutcomeMerge(o, OptionsSaveSettings());
    return o;
}

void OptionsFillWorkCopy(OptionsWorkCopy& work)
{
    TRACE("Options.OptionsFillWorkCopy");
    work.messages1 = GetMessageText(POS_STARTUP);
    work.messages2 = GetMessageText(POS_WAIT);
    work.messages4 = GetMessageText(POS_TURNOFF);
    work.autoChange = AutoChange;
    work.resizeMode = ResizeMode;
    work.font = LogoMessageFontSet();
    work.textColor = TextColor;
    work.textBorderColor = TextBorderColor;
}

Outcome OptionsApplyWorkCopy(const OptionsWorkCopy& work)
{
    TRACE("Options.OptionsApplyWorkCopy");
    // The counters first move on by the sets Windows used.
    Outcome step = AutoChangeCatchUp();
    const bool wasOn = AutoChange;
    SetMessageText(POS_STARTUP, work.messages1);
    SetMessageText(POS_WAIT, work.messages2);
    SetMessageText(POS_TURNOFF, work.messages4);
    ResizeMode = work.resizeMode;
    AutoChange = work.autoChange;
    FontName = work.font.Name;
    FontBold = work.font.Bold;
    FontItalic = work.font.Italic;
    FontUnderline = work.font.Underline;
    FontStrikeout = work.font.Strikeout;
    FontSize = work.font.Size;
    FontCharSet = work.font.CharSet;
    TextColor = work.textColor;
    TextBorderColor = work.textBorderColor;
    Outcome o = OptionsSaveSettings();
    OutcomeRun(o, [] { SaveMessages(); });
    OutcomeMerge(o, OptionsSetRunEntry(AutoChange));
    OutcomeMerge(o, OptionsEnsureLogoOption());
    OutcomeMerge(step, FollowAutoChange_(wasOn, false));
    OutcomeMerge(o, step);
    return o;
}

std::string OptionsCheckSetting(const std::string& key, const std::string& text)
{
    TRACE("Options.OptionsCheckSetting");
    SettingsPair pair;
    if (!OptionsFindSetting(key, pair)) return "unknown setting '" + key + "'";
    if (!SettingsValueFits(pair.key, text)) return "'" + text + "' is no value of " + pair.key;
    return std::string();
}

Outcome OptionsSaveSetting(const std::string& key, const std::string& text)
{
    TRACE("Options.OptionsSaveSetting");
    Outcome o;
    const std::string why = OptionsCheckSetting(key, text);
    if (!why.empty()) {
        OutcomeFail(o, why);
        return o;
    }
    SettingsPair pair;
    OptionsFindSetting(key, pair);
    // The counters first move on by the sets Windows used.
    const Outcome before = AutoChangeCatchUp();
    const bool wasOn = AutoChange;
    SettingsSetValue(pair.key, text);
    o = OptionsSaveSettings();
    // As after the Options dialog: the Run entry and the DOS step follow the setting.
    if (pair.key == "AutoChange") OutcomeMerge(o, OptionsSetRunEntry(AutoChange));
    OutcomeMerge(o, pair.key == "AutoChange" ? FollowAutoChange_(wasOn, true) : AutoChangeRefill());
    OutcomeMerge(o, before);
    OptionsFindSetting(pair.key, pair);
    if (OutcomeOk(o)) o.Result = pair.key + "=" + pair.value;
    return o;
}
