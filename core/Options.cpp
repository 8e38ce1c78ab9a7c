#include "core/Options.h"

#include "base/Mon.h"
#include "base/StrUtil.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/StoreLock.h"

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
        if (!EnsureLogoOptionInMsdosSys()) MonErrorMsg(OUTCOME_ERROR_CLASS, "Couldn't write \"MSDOS.SYS\".", __LINE__);
    });
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
    work.fontName = FontName;
    work.fontBold = FontBold;
    work.fontItalic = FontItalic;
    work.fontUnderline = FontUnderline;
    work.fontStrikeout = FontStrikeout;
    work.fontSize = FontSize;
    work.fontCharSet = FontCharSet;
    work.textColor = TextColor;
    work.textBorderColor = TextBorderColor;
}

Outcome OptionsApplyWorkCopy(const OptionsWorkCopy& work)
{
    TRACE("Options.OptionsApplyWorkCopy");
    SetMessageText(POS_STARTUP, work.messages1);
    SetMessageText(POS_WAIT, work.messages2);
    SetMessageText(POS_TURNOFF, work.messages4);
    ResizeMode = work.resizeMode;
    AutoChange = work.autoChange;
    FontName = work.fontName;
    FontBold = work.fontBold;
    FontItalic = work.fontItalic;
    FontUnderline = work.fontUnderline;
    FontStrikeout = work.fontStrikeout;
    FontSize = work.fontSize;
    FontCharSet = work.fontCharSet;
    TextColor = work.textColor;
    TextBorderColor = work.textBorderColor;
    Outcome o = OptionsSaveSettings();
    OutcomeRun(o, [] { SaveMessages(); });
    OutcomeMerge(o, OptionsSetRunEntry(AutoChange));
    OutcomeMerge(o, OptionsEnsureLogoOption());
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
    SettingsSetValue(pair.key, text);
    o = OptionsSaveSettings();
    // As after the Options dialog: the Run entry follows the setting.
    if (pair.key == "AutoChange") OutcomeMerge(o, OptionsSetRunEntry(AutoChange));
    OptionsFindSetting(pair.key, pair);
    if (OutcomeOk(o)) o.Result = pair.key + "=" + pair.value;
    return o;
}
