#include "core/Shuffle.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/SettingsLock.h"
#include "core/StoreLock.h"

#include <chrono>
#include <cstring>
#include <random>

namespace {

std::mt19937& Rng_()
{
    static std::mt19937 rng(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return rng;
}

int32_t Random_(int32_t count) { return std::uniform_int_distribution<int32_t>(0, count - 1)(Rng_()); }

}  // namespace

void ShuffleSeed(uint32_t seed)
{
    TRACE("Shuffle.ShuffleSeed");
    Rng_().seed(seed);
}

int32_t PickIndex(int32_t& counter, int32_t count, int32_t method)
{
    TRACE("Shuffle.PickIndex");
    if (count <= 0) return Undef;
    int32_t result;
    switch (method) {
    case 0:
        if (counter >= count || counter < 0) counter = 0;
        result = counter;
        counter = result + 1;
        break;
    case 1:
        result = Random_(count);
        counter = result + 1;
        break;
    case 2:
        result = 0;
        counter = 1;
        break;
    default:
        result = Random_(count);
        break;
    }
    return result;
}

int32_t PickImageForPosition(int position, int32_t method)
{
    TRACE("Shuffle.PickImageForPosition");
    int32_t* counter = LogoIndexOf(position);
    if (!counter) return Undef;
    const int n = ImageListCount(Images);
    int32_t eligible = 0;
    for (int i = 0; i < n; ++i)
        if (ImageListGet(Images, i)->Positions & position) ++eligible;
    if (eligible == 0) return Undef;
    int32_t k = PickIndex(*counter, eligible, method);
    for (int i = 0, number = 0; i < n; ++i) {
        if (!(ImageListGet(Images, i)->Positions & position)) continue;
        if (number++ == k) return i;
    }
    return Undef;
}

bool CopyPickedEntry(int position, int32_t method, ImageEntry& entry)
{
    TRACE("Shuffle.CopyPickedEntry");
    int32_t index = PickImageForPosition(position, method);
    if (index == Undef) {
        std::memset(&entry, 0, sizeof entry);
        return false;
    }
    std::memcpy(&entry, ImageListGet(Images, index), sizeof entry);
    return true;
}

int CountParts(const std::string& text, const std::string& separator)
{
    TRACE("Shuffle.CountParts");
    if (separator.empty()) return 1;
    // Counted the way GetPart walks the text: a separator starts after the previous one ends, so
    // overlapping matches ("\r\n--\r\n--\r\n") never count a part GetPart cannot return.
    int n = 1;
    size_t at = text.find(separator);
    while (at != std::string::npos) {
        ++n;
        at = text.find(separator, at + separator.size());
    }
    return n;
}

bool GetPart(const std::string& text, const std::string& separator, int n, std::string& part)
{
    TRACE("Shuffle.GetPart");
    part.clear();
    if (n < 0) return false;
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        size_t at = separator.empty() ? std::string::npos : text.find(separator, start == 0 && i == 0 ? 0 : start);
        if (at == std::string::npos) return false;
        start = at + separator.size();
    }
    size_t end = separator.empty() ? std::string::npos : text.find(separator, start);
    part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

std::string PickMessage(int position, const std::string& text)
{
    TRACE("Shuffle.PickMessage");
    int32_t* counter = MsgIndexOf(position);
    if (!counter) return std::string();
    int n = CountParts(text, MSG_SEPARATOR);
    int32_t k = PickIndex(*counter, n, MsgPickMethod);
    std::string part;
    if (k == Undef || !GetPart(text, MSG_SEPARATOR, k, part)) part.clear();
    return part;
}

std::string PickLogoMessage(int position)
{
    TRACE("Shuffle.PickLogoMessage");
    bool* enabled = MsgEnabledOf(position);
    return enabled && *enabled ? PickMessage(position, GetMessageText(position)) : std::string();
}

void BuildLogoWithMessage(const ImageEntry& entry, int position)
{
    TRACE("Shuffle.BuildLogoWithMessage");
    BuildLogo(entry, position, PickLogoMessage(position));
}

void ChangeLogosWith(int32_t logoMethod, const LogoBuildProc& build, Outcome& o)
{
    TRACE("Shuffle.ChangeLogosWith");
    for (int position : {POS_STARTUP, POS_WAIT, POS_TURNOFF}) {
        ImageEntry entry;
        if (!CopyPickedEntry(position, logoMethod, entry)) {
            o.Skipped.push_back(LogoPositionName(position) + " logo kept: no stored image is chosen for this position.");
            continue;
        }
        const std::string message = PickLogoMessage(position);
        // One position's failure never stops the others.
        const size_t errors = o.Errors.size();
        OutcomeRun(o, [&] { build(entry, position, message); });
        if (o.Errors.size() == errors) o.Written.push_back(GetLogoFileName(position));
    }
}

Outcome ChangeLogos(int32_t logoMethod)
{
    TRACE("Shuffle.ChangeLogos");
    const StoreLockScope lock(LOCK_STORE | LOCK_WINDOWS, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    if (!SettingsAdvanceCounters([&] { ChangeLogosWith(logoMethod, BuildLogo, o); })) OutcomeFail(o, SETTINGS_LOCK_BUSY);
    return o;
}
