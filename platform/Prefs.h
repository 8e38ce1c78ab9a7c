// Preferences (key=value pairs in sections of profile files) and registry reads.
//
// One program-wide target, a file and a section, both empty at start: every read and write goes to
// the target set last by PrefsPrepare. A bare file name ("win.ini") is in the Windows folder.
// Writes are cached; call PrefsFlushCache once after a batch of writes so the file on disk is
// complete. Without a target (file or section empty) reads give empty text and writes are dropped.
//
// Run entry, for example:
//     RegKey key;
//     if (RegOpenKey(REG_HKEY_LOCAL_MACHINE, REG_RUN, true, key)) {
//         RegSetValueStr(key, "KelvaneStudio", command);          // or:
//         std::string old; RegReadStr(key, "KelvaneStudio", old, "");
//         RegDeleteValueStr(key, "KelvaneStudio");
//         RegCloseKey(key);
//     }
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Registry.h"

// Size of the read buffer: a value read is cut to PREFS_BUFFER_SIZE - 1 characters, which is what
// the profile service returns for a buffer of this size.
constexpr int PREFS_BUFFER_SIZE = 1024;

void PrefsPrepare(const std::string& fileName, const std::string& section);
// Clears the target (program end).
void PrefsClear();
// Runs body, whose reads and writes see one version of the target's file, looked for and checked
// once (the target must stay the same within).
void PrefsInBatch(const std::function<void()>& body);
const std::string& PrefsFileName();
const std::string& PrefsSection();

void PrefsReadStr(const std::string& key, std::string& text, const std::string& def);
std::string PrefsReadStr(const std::string& key, const std::string& def);
void PrefsReadInt(const std::string& key, int32_t& value, int32_t def);
int32_t PrefsReadInt(const std::string& key, int32_t def);
// First character, upper-cased: '1', 'T', 'Y' true; '0', 'F', 'N' false; anything else the default.
void PrefsReadBool(const std::string& key, bool& value, bool def);
bool PrefsReadBool(const std::string& key, bool def);

void PrefsWriteStr(const std::string& key, const std::string& value);
void PrefsWriteInt(const std::string& key, int32_t value);
void PrefsWriteBool(const std::string& key, bool value);
// Writes the cached copy of the target's file to disk; false when that fails or no file is set.
bool PrefsFlushCache();
// Drops the cached copy of the target's file, unwritten changes included, so that what follows
// sees the file as it is on disk now (a read-merge-write under a lock).
void PrefsReread();

// The value's string, or def when the key is not open, the value is missing or reading fails.
void RegReadStr(const RegKey& key, const std::string& valueName, std::string& text, const std::string& def);
// Opens root\keyPath for reading (never creating it), reads the value with an empty default, closes.
void RegGetString(RegRoot root, const std::string& keyPath, const std::string& valueName, std::string& text);
