// Private profile files with the Windows semantics: section and key names compare ignoring case,
// the first match wins, keys and values are trimmed of blanks and a value in matching quotes loses
// them. A write changes only its own line; every other line, comment and line end is kept byte for
// byte, new lines end with CR LF, a missing section or file is created. Files stay cached in memory
// and are read again when their stamp (FileStamp) tells another program changed them; writes are
// held until ProfileFlush, which replaces the file atomically.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Files above this size are not loaded: reads give the default and writes fail (the file is kept).
constexpr int64_t PROFILE_MAX_FILE = 32 * 1024 * 1024;

// The path a file name stands for: a bare name is in the Windows folder; when the file does not
// exist but one whose name differs only in letter case does, that one.
std::string ProfileResolvePath(const std::string& file);

// GetPrivateProfileString: copies the value (or def when the section or key is missing) into out,
// cut to bufferSize - 1 characters, and returns its length.
int ProfileReadString(const std::string& section, const std::string& key, const std::string& def,
                      std::string& out, int bufferSize, const std::string& file);
// WritePrivateProfileString with a key and a value. Fails for an empty section or key, a key
// holding '=' or starting with '[' or ';', and any CR, LF or NUL in section, key or value (they
// would break the file's structure), and for a file too big to load.
bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file);
// Removes the key's first line in the section; true also when there was none.
bool ProfileDeleteKey(const std::string& section, const std::string& key, const std::string& file);
// Whether the section exists; with prefix true, also whether a section named section + "\..." does.
bool ProfileSectionExists(const std::string& section, const std::string& file, bool prefix = false);
// Adds an empty section when missing.
bool ProfileAddSection(const std::string& section, const std::string& file);
// Key names of a section in file order (first occurrence of each).
std::vector<std::string> ProfileKeys(const std::string& section, const std::string& file);

// Writes the cached copy to disk when it holds unwritten changes, through the safe write path (a
// link is replaced, never written through); true when the file on disk is up to date afterwards,
// false for a read-only file. A write that fails is an error of the monitor and keeps the file.
bool ProfileFlush(const std::string& file);
// Runs body, in which the reads and writes of file look for it and check it on disk once, at the
// first of them: the batch sees one version of the file even when another program changes it
// meanwhile. A batch begun within another ends both; later reads look at their file again.
void ProfileInBatch(const std::string& file, const std::function<void()>& body);
// Forgets every cached file, unwritten changes included (tests, program end after a flush).
void ProfileDropCache();
// Forgets the cached copy of file, unwritten changes included: the next access reads it from disk.
void ProfileForget(const std::string& file);
