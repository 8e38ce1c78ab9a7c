// The commands that change the settings: the Options dialog's OK and "kvs settings KEY VALUE".
#pragma once

#include <cstdint>
#include <string>

#include "core/LogoBuilder.h"
#include "core/Outcome.h"
#include "core/Settings.h"

// The settings the Options dialog edits through a copy; filled before it opens, applied after OK.
struct OptionsWorkCopy {
    std::string messages1, messages2, messages4;  // message lists of Startup, Wait, Turn Off
    bool autoChange = false;
    int32_t resizeMode = 0;  // passes through unchanged
    LogoMessageFont font;
    int32_t textColor = 0;
    int32_t textBorderColor = 0;
};

// Writes the settings file; the error when it could not be written.
Outcome OptionsSaveSettings();
// The Run entry of the automatic change set or removed; the error when the registry could not be written.
Outcome OptionsSetRunEntry(bool enable);
// "Logo=1" in MSDOS.SYS; the error when the file could not be written. The value it replaces is
// kept in win.ini the first time, for OptionsRestoreLogoOption.
Outcome OptionsEnsureLogoOption();
// Puts back the "Logo" value of MSDOS.SYS that OptionsEnsureLogoOption replaced; restored gets it
// (empty when there was nothing to put back).
Outcome OptionsRestoreLogoOption(std::string& restored);
// The copy from the settings and the message lists in memory.
void OptionsFillWorkCopy(OptionsWorkCopy& work);
// The copy into the settings, then the settings file, the message files, the Run entry after
// AutoChange, the boot-logo switch in MSDOS.SYS and the drive's DOS step of the automatic change
// (installed when AutoChange was turned on, removed when off, else its sets refilled); each file
// that could not be written is an error.
Outcome OptionsApplyWorkCopy(const OptionsWorkCopy& work);
// The key as the settings file spells it (key in any case) and its value; false for an unknown key.
bool OptionsFindSetting(const std::string& key, SettingsPair& pair);
// Why text is no value of key ("" when it is one): an unknown key, or not a number for a number key.
std::string OptionsCheckSetting(const std::string& key, const std::string& text);
// Stores one setting as the loader would read it and saves the settings file (and for AutoChange
// the Run entry and the drive's DOS step, installed for 1 and removed for 0). Result is
// "KEY=VALUE" as it now stands.
Outcome OptionsSaveSetting(const std::string& key, const std::string& text);
