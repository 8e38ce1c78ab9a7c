// The one write path of the files the program owns. A file is replaced so that it is at every
// moment either the old or the whole new file: a new temporary file in the target's folder
// (random name, created exclusively, never through a link), all data written and checked, flushed
// to disk, closed with its error checked, renamed over the target, the folder flushed. Any failure
// removes the temporary file, leaves the target as it was and is a file-class error of the monitor
// (it raises inside a block). A target that is a link is replaced by the new file: the link's
// target is never written, chmod-ed or removed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The end of every temporary file name of the program, so that leftovers are recognised wherever
// they are found.
constexpr const char* SAFE_TEMP_SUFFIX = ".kvs-new";

// Replaces path by size bytes of data.
// True when the target was replaced (false only outside a monitor block, where errors do not raise).
bool SafeWrite(const std::string& path, const void* data, int64_t size);
bool SafeWrite(const std::string& path, const std::string& data);
// As SafeWrite, but a failure does not raise: false, with the error left in the monitor.
bool SafeTryWrite(const std::string& path, const std::string& data);
// For writers that produce a file by name: fill writes the temporary file whose name it gets
// (through the file layer, with checked closes), then it replaces path as above.
bool SafeWriteWith(const std::string& path, const std::function<void(const std::string& temp)>& fill);
// Whether a name is one of the temporary files of this write path.
bool SafeIsTempName(const std::string& fileName);
// The name of the file such a temporary file was to replace; empty for other names.
std::string SafeTempTarget(const std::string& fileName);
// Flushing to disk on (default) or off; off only to measure what the flushes cost.
void SafeSetSync(bool on);
