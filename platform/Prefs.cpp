// Preferences over the profile files, registry reads.
#include "platform/Prefs.h"

#include "base/Mon.h"
#include "platform/ProfileFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::string prefsFile_;
std::string prefsSection_;

bool prepared_()
{
    return !prefsFile_.empty() && !prefsSection_.empty();
}

void readStr_(const std::string& key, const std::string& def, std::string& text)
{
    TRACE("Prefs._PrefsReadStr");
    text.clear();
    if (!prepared_()) return;
    ProfileReadString(prefsSection_, key, def, text, PREFS_BUFFER_SIZE, prefsFile_);
}

void writeStr_(const std::string& key, const std::string& value)
{
    TRACE("Prefs._PrefsWriteStr");
    if (!prepared_()) return;
    ProfileWriteString(prefsSection_, key, value, prefsFile_);
}

// A whole decimal integer with an optional sign, within 32 bits.
bool toInt_(const std::string& text, int32_t& value)
{
    size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
    if (i >= text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) return false;
    }
    if (neg) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace

void PrefsPrepare(const std::string& fileName, const std::string& section)
{
    TRACE("Prefs.PrefsPrepare");
    prefsFile_ = fileName;
    prefsSection_ = section;
}

void PrefsClear()
{
    TRACE("Prefs.PrefsClear");
    prefsFile_.clear();
    prefsSection_.clear();
}

void PrefsInBatch(const std::function<void()>& body)
{
    TRACE("Prefs.PrefsInBatch");
    if (prepared_())
        ProfileInBatch(prefsFile_, body);
    else
        body();
}

const std::string& PrefsFileName()
{
    TRACE("Prefs.PrefsFileName");
    return prefsFile_;
}

const std::string& PrefsSection()
{
    TRACE("Prefs.PrefsSection");
    return prefsSection_;
}

void PrefsReadStr(const std::string& key, std::string& text, const std::string& def)
{
    TRACE("Prefs.PrefsReadStr");
    readStr_(key, def, text);
}

std::string PrefsReadStr(const std::string& key, const std::string& def)
{
    TRACE("Prefs.PrefsReadStr");
    std::string text;
    PrefsReadStr(key, text, def);
    return text;
}

void PrefsReadInt(const std::string& key, int32_t& value, int32_t def)
{
    TRACE("Prefs.PrefsReadInt");
    std::string text;
    readStr_(key, std::string(), text);
    if (!toInt_(text, value)) value = def;
}

int32_t PrefsReadInt(const std::string& key, int32_t def)
{
    TRACE("Prefs.PrefsReadInt");
    int32_t value = def;
    PrefsReadInt(key, value, def);
    return value;
}

void PrefsReadBool(const std::string& key, bool& value, bool def)
{
    TRACE("Prefs.PrefsReadBool");
    std::string text;
    readStr_(key, std::string(), text);
    value = def;
    if (text.empty()) return;
    switch (text[0]) {
    case '1': case 'T': case 't': case 'Y': case 'y': value = true; break;
    case '0': case 'F': case 'f': case 'N': case 'n': value = false; break;
    default: break;
    }
}

bool PrefsReadBool(const std::string& key, bool def)
{
    TRACE("Prefs.PrefsReadBool");
    bool value = def;
    PrefsReadBool(key, value, def);
    return value;
}

void PrefsWriteStr(const std::string& key, const std::string& value)
{
    TRACE("Prefs.PrefsWriteStr");
    writeStr_(key, value);
}

void PrefsWriteInt(const std::string& key, int32_t value)
{
    TRACE("Prefs.PrefsWriteInt");
    writeStr_(key, std::to_string(value));
}

void PrefsWriteBool(const std::string& key, bool value)
{
    TRACE("Prefs.PrefsWriteBool");
    writeStr_(key, value ? "1" : "0");
}

bool PrefsFlushCache()
{
    TRACE("Prefs.PrefsFlushCache");
    if (prefsFile_.empty()) return false;
    return ProfileFlush(prefsFile_);
}

void PrefsReread()
{
    TRACE("Prefs.PrefsReread");
    if (!prefsFile_.empty()) ProfileForget(prefsFile_);
}

void RegReadStr(const RegKey& key, const std::string& valueName, std::string& text, const std::string& def)
{
    TRACE("Prefs.RegReadStr");
    std::string value;
    if (RegQueryValueStr(key, valueName, value))
        text = value;
    else
        text = def;
}

void RegGetString(RegRoot root, const std::string& keyPath, const std::string& valueName, std::string& text)
{
    TRACE("Prefs.RegGetString");
    text.clear();
    // Opening the key and reading the value look at registry.ini once.
    ProfileInBatch(RegFileName(), [&] {
        RegKey key;
        if (!RegOpenKey(root, keyPath, false, key)) return;
        RegReadStr(key, valueName, text, std::string());
        RegCloseKey(key);
    });
}
