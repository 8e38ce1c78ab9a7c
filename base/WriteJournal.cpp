// The journal of changed paths. It sits below the error monitor and so traces nothing.
#include "base/WriteJournal.h"

namespace {

bool kept_ = false;
std::vector<std::string> notes_;

}  // namespace

void JournalKeep(bool on)
{
    kept_ = on;
    notes_.clear();
}

void JournalNote(const std::string& path)
{
    if (kept_) notes_.push_back(path);
}

std::vector<std::string> JournalTake()
{
    std::vector<std::string> taken;
    taken.swap(notes_);
    return taken;
}
