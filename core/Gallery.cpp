#include "core/Gallery.h"

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "base/UiServices.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "core/StoreView.h"
#include "platform/DrivePath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

// Errors of this unit carry their own text (the class whose text is the current message).
constexpr int32_t GAL_ERROR_CLASS = 2;

static void PutShortText_(uint8_t* p, const std::string& text, size_t capacity)
{
    const size_t n = std::min(text.size(), capacity);
    p[0] = static_cast<uint8_t>(n);
    std::memcpy(p + 1, text.data(), n);
}

// ---------------------------------------------------------------- download times

double GalDownloadSeconds(double size, double rate)
{
    TRACE("Gallery.GalDownloadSeconds");
    double t = std::nearbyint(size / (rate * 0.125));  // the default rounding sends halves to even
    if (t > 20) t = DivisibleFloat(t + 5, 5);
    return t;
}

std::string GalDownloadTimes(double size)
{
    TRACE("Gallery.GalDownloadTimes");
    static const struct {
        double rate;
        const char* label;
    } rows[] = {{14400, "  at  14.4 kbps"}, {28800, "  at  28.8 kbps"}, {33600, "  at  33.6 kbps"},
                {56000, "  at  56 kbps"},   {128000, "  at  128 kbps"}, {1500000, "  at  1.5 Mbps"}};
    std::string s;
    for (const auto& r : rows) s += "  " + SecToStr(23, GalDownloadSeconds(size, r.rate)) + r.label + "\r\n";
    return s;
}

std::string GalSummaryText(const std::string& fileName, const std::string& prefix, int count, double size)
{
    TRACE("Gallery.GalSummaryText");
    return "Gallery \"" + fileName + "\" successfully created.\r\n\r\n" + "Prefix: \"" + prefix + "\"\r\n" +
           "Number of pictures: " + std::to_string(count) + "\r\n" + "File size: " + GetFileSizeStr(size) +
           "\r\n\r\n" + "Download times (ideal case):\r\n" + GalDownloadTimes(size) + "\r\n";
}

// ---------------------------------------------------------------- writing

// The list rows of the named images, in list order; raises for a name the store does not hold.
static std::vector<int> Rows_(const std::vector<std::string>& names)
{
    TRACE("Gallery.Rows_");
    std::vector<int> rows;
    for (const std::string& name : names) {
        const int32_t i = ImageListFind(Images, name);
        if (i == Undef) MonErrorMsg(GAL_ERROR_CLASS, "No image named \"" + name + "\" in the store.", __LINE__);
        if (std::find(rows.begin(), rows.end(), i) == rows.end()) rows.push_back(i);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Appends the record and the stored bytes of one image to the open file f.
static void GalleryWriteRecord_(int f, const ImageEntry& e)
{
    TRACE("Gallery.GalleryWriteRecord_");
    const std::string name = EntryName(e);
    uint8_t rec[GAL_RECORD_SIZE] = {};
    BytesPutLE32(rec + GAL_R_SIZE, GAL_RECORD_SIZE);
    PutShortText_(rec + GAL_R_NAME, NameAfterSeparator(name, true), GAL_NAME_MAX);
    BytesPutLE32(rec + GAL_R_POSITIONS, e.Positions);
    BytesPutLE32(rec + GAL_R_FROMLOGO, e.FromLogoFile);
    BytesPutLE32(rec + GAL_R_ANIMSTART, e.AnimStart);
    uint8_t* data = nullptr;
    int h = Undef;
    const std::string path = GetStorageDir() + SafeStoredName(name);
    DriveFetch(path);
    FOpen(h, path, FM_READ);
    const int64_t length = FSize(h);
    if (length < 0 || length > 0x7FFFFFFF) MonError(EC_FILE, FE_READ, __LINE__);
    if (length > 0) {
        MemAllocT(&data, length, __LINE__, "Gallery.GalleryWrite.data");
        FRead(h, data, length);
    }
    FClose(h);
    BytesPutLE32(rec + GAL_R_LENGTH, static_cast<int32_t>(length));
    FWrite(f, rec, GAL_RECORD_SIZE);
    if (length > 0) FWrite(f, data, length);
    MemFreeT(&data);
}

// Writes the whole gallery into path; the number of images written (fewer after Esc).
static int GalleryWriteData_(const std::string& path, const std::string& prefix, const std::vector<int>& rows)
{
    TRACE("Gallery.GalleryWriteData_");
    const int count = static_cast<int>(rows.size());
    int written = 0;
    int f = Undef;
    FOpen(f, path, FM_CREATE | FM_WRITE);
    uint8_t head[GAL_HEADER_SIZE] = {};
    BytesPutLE32(head + GAL_H_SIZE, GAL_HEADER_SIZE);
    PutShortText_(head + GAL_H_MAGIC, GAL_MAGIC, 31);
    BytesPutLE32(head + GAL_H_VERSION, GAL_VERSION);
    PutShortText_(head + GAL_H_PREFIX, prefix, GAL_PREFIX_MAX);
    BytesPutLE32(head + GAL_H_COUNT, count);
    FWrite(f, head, GAL_HEADER_SIZE);
    for (int row : rows) {
        Ui().ShowStatus("Creating gallery, adding image " + std::to_string(written + 1) + " of " +
                            std::to_string(count),
                        true);
        GalleryWriteRecord_(f, *Images->Items[row]);
        ++written;
        if (OverwriteChoice == OC_ABORT) break;
    }
    if (written < count) {
        BytesPutLE32(head + GAL_H_COUNT, written);
        FSeek(f, GAL_H_COUNT);
        FWrite(f, head + GAL_H_COUNT, 4);
    }
    FClose(f);
    return written;
}

// Written beside the final name and renamed when complete: a gallery is never half a file.
static int GalleryWriteFile_(const std::string& fileName, const std::string& prefix, const std::vector<int>& rows)
{
    TRACE("Gallery.GalleryWriteFile_");
    int written = 0;
    SafeWriteWith(fileName, [&](const std::string& temp) { written = GalleryWriteData_(temp, prefix, rows); });
    return written;
}

int GalleryWrite(const std::string& fileName, const std::string& prefix, const std::vector<std::string>& names)
{
    TRACE("Gallery.GalleryWrite");
    int written = 0;
    MonBlock([&] {
        OverwriteChoice = OC_NONE;
        written = GalleryWriteFile_(fileName, prefix, Rows_(names));
    });
    return written;
}

// ---------------------------------------------------------------- reading

[[noreturn]] static void Damaged_()
{
    TRACE("Gallery.Damaged_");
    MonErrorMsg(GAL_ERROR_CLASS, GAL_DAMAGED, __LINE__);
    throw EMon(GAL_DAMAGED);  // not reached inside a block
}

static bool IsPngData_(const uint8_t* data, int64_t length)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data && length > 8 && std::memcmp(data, signature, 8) == 0;
}

static void WriteStoredFile_(const std::string& path, const uint8_t* data, int64_t length)
{
    TRACE("Gallery.WriteStoredFile_");
    SafeWrite(path, data, length);
}

// The prefix the images get: the override or the gallery's own, cleaned; settled with the user
// when stored images already begin with it. False when the user cancelled; an empty prefix is a
// prefix like any other.
static bool SettlePrefix_(const uint8_t* head, const std::string& prefixOverride, const Answers& ask,
                          std::string& prefix)
{
    TRACE("Gallery.SettlePrefix_");
    // Names from the file or typed at the prompt never lead out of the storage folder.
    prefix = prefixOverride.empty()
                 ? std::string(reinterpret_cast<const char*>(head + GAL_H_PREFIX + 1), head[GAL_H_PREFIX])
                 : prefixOverride;
    prefix = SafeStoredName(prefix);
    while (StoreFindImageByPrefix(prefix) != Undef) {
        std::string typed = prefix;
        const int answer = AskPrefixClash(ask, typed);
        if (answer == PC_OVERWRITE) break;
        if (answer != PC_RENAME) return false;
        prefix = SafeStoredName(typed);
    }
    return true;
}

// Unpacks the count records from offset p of the open file f into the store; the first stored
// name. Records that hold no PNG data are counted in skipped.
static std::string Unpack_(int f, int64_t fileSize, int64_t p, int32_t count, const std::string& prefix, int& skipped)
{
    TRACE("Gallery.Unpack_");
    const std::string dir = GetStorageDir();
    if (!MakeLongDir(dir)) MonError(EC_FILE, FE_CREATE, __LINE__);
    std::string first;
    uint8_t* data = nullptr;
    for (int32_t i = 1; i <= count; ++i) {
        Ui().ShowStatus("Extracting image " + std::to_string(i) + " of " + std::to_string(count), true);
        if (p + 4 > fileSize) Damaged_();
        uint8_t rec[GAL_RECORD_SIZE] = {};
        FSeek(f, p);
        FRead(f, rec, 4);
        const int32_t recordSize = static_cast<int32_t>(BytesGetLE32(rec + GAL_R_SIZE));
        if (recordSize < 4) Damaged_();
        const int64_t n = std::min<int64_t>(recordSize, GAL_RECORD_SIZE);
        if (p + n > fileSize) Damaged_();
        FSeek(f, p);
        FRead(f, rec, n);
        p += recordSize;
        const int32_t length = static_cast<int32_t>(BytesGetLE32(rec + GAL_R_LENGTH));
        if (rec[GAL_R_NAME] > GAL_NAME_MAX || length < 0) Damaged_();
        if (length >= GAL_MAX_DATA) break;
        if (p + length > fileSize) Damaged_();
        const std::string stored =
            SafeStoredName(std::string(reinterpret_cast<const char*>(rec + GAL_R_NAME + 1), rec[GAL_R_NAME]));
        if (stored.empty()) Damaged_();
        if (length > 0) {
            MemAllocT(&data, length, __LINE__, "Gallery.GalleryRead.data");
            FSeek(f, p);
            FRead(f, data, length);
        }
        p += length;
        // Anything but a picture is left out, whatever its name says.
        if (!IsPngData_(data, length)) {
            MemFreeT(&data);
            ++skipped;
            continue;
        }
        std::string full = SafeStoredName(NameJoinPrefix(prefix, stored, IMAGE_NAME_MAX));
        // An image stored under another letter case is replaced, never joined by a second file.
        const std::string existing = StoredSpelling(dir, full);
        if (!existing.empty()) full = existing;
        WriteStoredFile_(dir + full, data, length);
        MemFreeT(&data);
        ImageEntry* e = ImageListFindOrAdd(Images, full);
        EntrySetName(*e, full);
        e->RecordSize = IMAGE_ENTRY_SIZE;
        e->Positions = static_cast<int32_t>(BytesGetLE32(rec + GAL_R_POSITIONS));
        e->Reserved = 0;
        e->FileSize = length;
        e->FromLogoFile = static_cast<int32_t>(BytesGetLE32(rec + GAL_R_FROMLOGO));
        e->AnimStart = static_cast<int32_t>(BytesGetLE32(rec + GAL_R_ANIMSTART));
        if (first.empty()) first = full;
    }
    return first;
}

Outcome GalleryRead(const std::string& fileName, const std::string& prefixOverride, const Answers& ask)
{
    TRACE("Gallery.GalleryRead");
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    int f = Undef;
    OutcomeRun(o, [&] {
        OverwriteChoice = OC_NONE;
        if (!Images) StoreLoad();
        FOpen(f, fileName, FM_READ);
        const int64_t fileSize = FSize(f);
        uint8_t head[GAL_HEADER_SIZE] = {};
        FRead(f, head, std::min<int64_t>(fileSize, GAL_HEADER_SIZE));
        const int32_t count = static_cast<int32_t>(BytesGetLE32(head + GAL_H_COUNT));
        const int32_t version = static_cast<int32_t>(BytesGetLE32(head + GAL_H_VERSION));
        const int32_t headerSize = static_cast<int32_t>(BytesGetLE32(head + GAL_H_SIZE));
        auto refuse = [&](const char* text) {
            FClose(f);
            OutcomeFail(o, text);
        };
        if (head[GAL_H_MAGIC] != 22 || std::memcmp(head + GAL_H_MAGIC + 1, GAL_MAGIC, 22) != 0)
            return refuse(GAL_NOT_GALLERY);
        if (count <= 0 || fileSize < GAL_HEADER_SIZE) return refuse(GAL_DAMAGED);
        if (version < GAL_VERSION) return refuse(GAL_OLDER);
        if (headerSize < GAL_HEADER_SIZE || headerSize > fileSize || head[GAL_H_PREFIX] > GAL_PREFIX_MAX)
            return refuse(GAL_DAMAGED);
        if (version > GAL_VERSION) o.Warnings.push_back(GAL_NEWER);
        std::string prefix;
        if (!SettlePrefix_(head, prefixOverride, ask, prefix)) {
            FClose(f);
            o.Declined = true;
            o.Skipped.push_back("Nothing was extracted from \"" + fileName + "\".");
            return;
        }
        int skipped = 0;
        o.Select = Unpack_(f, fileSize, headerSize, count, prefix, skipped);
        if (skipped > 0) o.Skipped.push_back("Records that hold no PNG image, left out: " + std::to_string(skipped));
        o.StoreChanged = true;
        FClose(f);
        WriteImageIndex(Images, GetStorageDir());
        o.Written.push_back(fileName);
        o.Result = "Images extracted under prefix \"" + prefix + "\".";
    });
    return o;
}

// ---------------------------------------------------------------- the commands

Outcome GalleryCreate(const std::string& fileIn, const std::string& prefixIn, const std::vector<std::string>& given,
                  const Answers& ask)
{
    TRACE("Gallery.GalleryCreate");
    const StoreLockScope lock(LOCK_STORE, false);
    if (!lock.Held) return StoreLockBusy();
    Outcome o;
    // A picture named twice is packed once, so it counts once towards the two a gallery needs.
    std::vector<std::string> names;
    for (const std::string& n : given)
        if (std::none_of(names.begin(), names.end(), [&](const std::string& m) { return SameImageName(n, m); }))
            names.push_back(n);
    if (names.size() < 2) {
        OutcomeFail(o, GAL_TOO_FEW);
        return o;
    }
    std::string file = fileIn;
    if (fs::path(file).extension().empty()) file += ".gal";
    std::error_code ec;
    if (fs::exists(file, ec) && !AskReplaceFile(ask, file)) {
        o.Declined = true;
        o.Skipped.push_back("Gallery \"" + file + "\" already exists; nothing was written.");
        return o;
    }
    const std::string prefix = SanitizeName(prefixIn.empty() ? GalPrefixProposal(file) : prefixIn, false);
    if (prefix.empty() || prefix.size() > static_cast<size_t>(GAL_PREFIX_MAX)) {
        OutcomeFail(o, GAL_INVALID_PREFIX);
        return o;
    }
    Ui().SetBusy(true);
    int written = 0;
    OutcomeRun(o, [&] { written = GalleryWrite(file, prefix, names); });
    Ui().SetBusy(false);
    if (!OutcomeOk(o)) return o;
    o.Written.push_back(file);
    const uintmax_t size = fs::file_size(file, ec);
    o.Result = GalSummaryText(file, prefix, written, ec ? 0.0 : static_cast<double>(size));
    return o;
}

Outcome GalleryOpen(const std::string& file, const std::string& prefixOverride, const Answers& ask)
{
    TRACE("Gallery.GalleryOpen");
    Ui().SetBusy(true);
    Outcome o = GalleryRead(file, prefixOverride, ask);
    Ui().SetBusy(false);
    return o;
}

std::string GalPrefixProposal(const std::string& file)
{
    TRACE("Gallery.GalPrefixProposal");
    return ForceFileExt(fs::path(file).filename().string(), "");
}
