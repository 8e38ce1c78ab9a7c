// What tells a file or folder from its earlier self: identity, size and times. A copy read at some
// moment stays good while the stamp is the same, provided the times had settled when it was read:
// a change within the clock tick of the last one keeps the times, so only a stamp whose times lie
// well behind the moment of reading proves later changes would show.
#pragma once

#include <cstdint>
#include <string>

struct FileStamp {
    bool exists = false;
    bool regular = false;  // a plain file (not part of the comparison: the identity decides)
    uint64_t dev = 0, ino = 0;
    int64_t size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
};

// The clock to give StampSettled, read before the stamp is taken.
struct StampClock {
    int64_t sec = 0, nsec = 0;
};
StampClock StampNow();

// The stamp of path (links followed); exists false when it cannot be read.
FileStamp StampOf(const std::string& path);
// The stamp of an open file.
FileStamp StampOfFd(int fd);
bool StampSame(const FileStamp& a, const FileStamp& b);
// Whether every change after seenAt is sure to give another stamp. File systems that keep times
// in whole or two seconds (FAT) need two seconds; finer ones a few clock ticks.
bool StampSettled(const FileStamp& s, const StampClock& seenAt);
