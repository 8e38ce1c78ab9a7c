// DOS file attributes. On a FAT file system the real attributes (FAT ioctls); elsewhere read-only is
// the owner's write bit and hidden, system and archive live in the extended attribute
// "user.kelvane.dosattrib" (decimal text) where the file system allows it. A file without that
// attribute reads as archive only, as a freshly written Windows file does.
#pragma once

#include <string>

enum {
    FA_READONLY = 1,
    FA_HIDDEN = 2,
    FA_SYSTEM = 4,
    FA_DIRECTORY = 16,
    FA_ARCHIVE = 32
};

// The attributes, -1 when the file does not exist or cannot be examined.
int FileGetAttr(const std::string& path);
// Sets the attributes (the directory bit is ignored). False when the file is missing, is a link or
// its read-only state cannot be changed; bits the file system cannot keep are dropped silently.
bool FileSetAttr(const std::string& path, int attrs);
// Gives to the attributes of from (a file being replaced by to).
bool FileCopyAttr(const std::string& from, const std::string& to);
