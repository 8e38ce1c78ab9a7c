#include "core/Gallery.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "base/miscprocs.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "core/StoreView.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

// Errors of this unit carry their own text (the class whose text is the current message).
constexpr int32_t GAL_ERROR_CLASS = 2;

static int OpenFilterIndex_ = 1;  // the open dialog's filter, kept while the program runs

static uint32_t Le32_(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

static void PutLe32_(uint8_t* p, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

static void PutShortText_(uint8_t* p, const std::string& text, size_t capacity)
{
    const size_t n = std::min(text.size(), capacity);
    p[0] = static_cast<uint8_t>(n);
    std::memcpy(p + 1, text.data(), n);
}

static std::string FolderOf_(const std::string& path)
{
    const size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

// A plain file name of at most 127 characters whose extension survives the cut.
static std::string StoreFileName_(const std::string& name)
{
    TRACE("Gallery.StoreFileName_");
    if (name.size() <= static_cast<size_t>(IMAGE_NAME_MAX)) return SafeStoredName(name);
    const size_t dot = name.find_last_of('.');
    const std::string ext = (dot == std::string::npos || name.size() - dot > 16) ? std::string() : name.substr(dot);
    return SafeStoredName(name.substr(0, IMAGE_NAME_MAX - ext.size()) + ext);
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
    return "Gallery \"" + fileName + "\" successfuly created.\r\n\r\n" + "Prefix: \"" + prefix + "\"\r\n" +
           "Number of pictures: " + std::to_string(count) + "\r\n" + "File size: " + GetFileSizeStr(size) +
           "\r\n\r\n" + "Download times (ideal case):\r\n" + GalDownloadTimes(size) + "\r\n";
}

// ---------------------------------------------------------------- writing

bool WriteGallery(const std::string& fileName, const std::string& prefix)
{
    TRACE("Gallery.WriteGallery");
    Ui().SetBusy(true);
    // Written beside the final name and renamed when complete: a gallery is never half a file.
    const std::string temp = fileName + ".tmp";
    bool done = false;
    int written = 0;
    MonBlockTransparent([&] {
        OverwriteChoice = OC_NONE;
        StoreView& view = StoreViewGet();
        const std::string dir = GetStorageDir();
        const int rows = ImageListCount(Images);
        int count = 0;
        for (int i = 0; i < rows; ++i)
            if (view.IsHighlighted(i)) ++count;
        int f = Undef;
        FOpen(f, temp, FM_CREATE | FM_WRITE);
        uint8_t head[GAL_HEADER_SIZE] = {};
        PutLe32_(head + GAL_H_SIZE, GAL_HEADER_SIZE);
        PutShortText_(head + GAL_H_MAGIC, GAL_MAGIC, 31);
        PutLe32_(head + GAL_H_VERSION, GAL_VERSION);
        PutShortText_(head + GAL_H_PREFIX, prefix, GAL_PREFIX_MAX);
        PutLe32_(head + GAL_H_COUNT, count);
        FWrite(f, head, GAL_HEADER_SIZE);
        uint8_t* data = nullptr;
        for (int i = 0; i < ImageListCount(Images); ++i) {
            if (!view.IsHighlighted(i)) continue;
            Ui().ShowStatus("Creating gallery, adding image " + std::to_string(written + 1) + " of " +
                                std::to_string(count),
                            true);
            const ImageEntry& e = *Images->Items[i];
            const std::string name = EntryName(e);
            uint8_t rec[GAL_RECORD_SIZE] = {};
            PutLe32_(rec + GAL_R_SIZE, GAL_RECORD_SIZE);
            PutShortText_(rec + GAL_R_NAME, NameAfterSeparator(name, true), GAL_NAME_MAX);
            PutLe32_(rec + GAL_R_POSITIONS, e.Positions);
            PutLe32_(rec + GAL_R_FROMLOGO, e.FromLogoFile);
            PutLe32_(rec + GAL_R_ANIMSTART, e.AnimStart);
            int h = Undef;
            FOpen(h, dir + SafeStoredName(name), FM_READ);
            const int64_t length = FSize(h);
            if (length < 0 || length > 0x7FFFFFFF) MonError(EC_FILE, 3, __LINE__);
            if (length > 0) {
                MemAllocT(&data, length, __LINE__, "Gallery.WriteGallery.data");
                FRead(h, data, length);
            }
            FClose(h);
            PutLe32_(rec + GAL_R_LENGTH, static_cast<int32_t>(length));
            FWrite(f, rec, GAL_RECORD_SIZE);
            if (length > 0) FWrite(f, data, length);
            MemFreeT(&data);
            ++written;
            if (OverwriteChoice == OC_ABORT) break;
        }
        if (written < count) {
            PutLe32_(head + GAL_H_COUNT, written);
            FSeek(f, GAL_H_COUNT);
            FWrite(f, head + GAL_H_COUNT, 4);
        }
        FClose(f);
        std::error_code ec;
        fs::rename(temp, fileName, ec);
        if (ec) MonError(EC_FILE, 10, __LINE__);
        done = true;
    });
    if (done && MonOK()) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(fileName, ec);
        Ui().InfoBox(GalSummaryText(fileName, prefix.substr(0, GAL_PREFIX_MAX), written,
                                    ec ? 0.0 : static_cast<double>(size)));
    } else {
        done = false;
        Ui().ErrorBox(MonErrorText());
        std::error_code ec;
        fs::remove(temp, ec);
    }
    MonClearError();
    Ui().SetBusy(false);
    return done;
}

// ---------------------------------------------------------------- reading

[[noreturn]] static void Damaged_()
{
    TRACE("Gallery.Damaged_");
    MonErrorMsg(GAL_ERROR_CLASS, GAL_DAMAGED, __LINE__);
    throw EMon(GAL_DAMAGED);  // not reached inside a block
}

// Writes data as the stored image path (temporary file renamed over the old one).
static void WriteStoredFile_(const std::string& path, const uint8_t* data, int64_t length)
{
    TRACE("Gallery.WriteStoredFile_");
    const std::string temp = path + ".tmp";
    int h = Undef;
    FOpen(h, temp, FM_CREATE | FM_WRITE);
    if (length > 0) FWrite(h, data, length);
    FClose(h);
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        MonError(EC_FILE, 10, __LINE__);
    }
}

bool ReadGallery(const std::string& fileName, const std::string& prefixOverride)
{
    TRACE("Gallery.ReadGallery");
    Ui().SetBusy(true);
    bool done = false;
    MonBlockTransparent([&] {
        OverwriteChoice = OC_NONE;
        StoreView& view = StoreViewGet();
        if (!Images) StoreLoad();
        int f = Undef;
        FOpen(f, fileName, FM_READ);
        const int64_t fileSize = FSize(f);
        uint8_t head[GAL_HEADER_SIZE] = {};
        FRead(f, head, std::min<int64_t>(fileSize, GAL_HEADER_SIZE));
        const int32_t count = static_cast<int32_t>(Le32_(head + GAL_H_COUNT));
        const int32_t version = static_cast<int32_t>(Le32_(head + GAL_H_VERSION));
        const int32_t headerSize = static_cast<int32_t>(Le32_(head + GAL_H_SIZE));
        auto stop = [&](void (UiServices::*box)(const std::string&), const char* text) {
            FClose(f);
            (Ui().*box)(text);
        };
        if (head[GAL_H_MAGIC] != 22 || std::memcmp(head + GAL_H_MAGIC + 1, GAL_MAGIC, 22) != 0)
            return stop(&UiServices::ErrorBox, GAL_NOT_GALLERY);
        if (count <= 0 || fileSize < GAL_HEADER_SIZE) return stop(&UiServices::ErrorBox, GAL_DAMAGED);
        if (version < GAL_VERSION) return stop(&UiServices::ErrorBox, GAL_OLDER);
        if (headerSize < GAL_HEADER_SIZE || headerSize > fileSize || head[GAL_H_PREFIX] > GAL_PREFIX_MAX)
            return stop(&UiServices::ErrorBox, GAL_DAMAGED);
        if (version > GAL_VERSION) Ui().WarningBox(GAL_NEWER);

        // Names from the file or typed at the prompt never lead out of the storage folder.
        std::string prefix = prefixOverride.empty()
                                 ? std::string(reinterpret_cast<const char*>(head + GAL_H_PREFIX + 1), head[GAL_H_PREFIX])
                                 : prefixOverride;
        prefix = SafeStoredName(prefix);
        while (view.FindImageByPrefix(prefix) != Undef) {
            const std::string a = Ui().YesNoCancel(GAL_PREFIX_CLASH, 3);
            if (a == "Y") break;
            if (a != "N") return FClose(f);
            std::string typed = prefix;
            if (!Ui().PromptText("Open Gallery", "Enter new image prefix", typed)) return FClose(f);
            prefix = SafeStoredName(typed);
        }

        const std::string dir = GetStorageDir();
        if (!MakeLongDir(dir)) MonError(EC_FILE, 2, __LINE__);
        std::string first;
        uint8_t* data = nullptr;
        int64_t p = headerSize;
        for (int32_t i = 1; i <= count; ++i) {
            Ui().ShowStatus("Extracting image " + std::to_string(i) + " of " + std::to_string(count), true);
            if (p + 4 > fileSize) Damaged_();
            uint8_t rec[GAL_RECORD_SIZE] = {};
            FSeek(f, p);
            FRead(f, rec, 4);
            const int32_t recordSize = static_cast<int32_t>(Le32_(rec + GAL_R_SIZE));
            if (recordSize < 4) Damaged_();
            const int64_t n = std::min<int64_t>(recordSize, GAL_RECORD_SIZE);
            if (p + n > fileSize) Damaged_();
            FSeek(f, p);
            FRead(f, rec, n);
            p += recordSize;
            const int32_t length = static_cast<int32_t>(Le32_(rec + GAL_R_LENGTH));
            if (rec[GAL_R_NAME] > GAL_NAME_MAX || length < 0) Damaged_();
            if (length >= GAL_MAX_DATA) break;
            if (p + length > fileSize) Damaged_();
            const std::string stored =
                SafeStoredName(std::string(reinterpret_cast<const char*>(rec + GAL_R_NAME + 1), rec[GAL_R_NAME]));
            if (stored.empty()) Damaged_();
            if (length > 0) {
                MemAllocT(&data, length, __LINE__, "Gallery.ReadGallery.data");
                FSeek(f, p);
                FRead(f, data, length);
            }
            p += length;
            const std::string full = StoreFileName_(prefix + NAME_SEPARATOR + stored);
            WriteStoredFile_(dir + full, data, length);
            MemFreeT(&data);
            ImageEntry* e = ImageListFindOrAdd(Images, full);
            EntrySetName(*e, full);
            e->RecordSize = IMAGE_ENTRY_SIZE;
            e->Positions = static_cast<int32_t>(Le32_(rec + GAL_R_POSITIONS));
            e->Reserved = 0;
            e->FileSize = length;
            e->FromLogoFile = static_cast<int32_t>(Le32_(rec + GAL_R_FROMLOGO));
            e->AnimStart = static_cast<int32_t>(Le32_(rec + GAL_R_ANIMSTART));
            if (first.empty()) first = full;
        }
        WriteImageIndex(Images, dir);
        FClose(f);
        view.RefreshList(true);
        view.SelectImageByName(first);
        Ui().InfoBox("Images extracted under prefix \"" + prefix + "\".");
        done = true;
    });
    if (!MonOK()) {
        done = false;
        Ui().ErrorBox(MonErrorText());
    }
    MonClearError();
    Ui().SetBusy(false);
    return done;
}

// ---------------------------------------------------------------- the window's commands

void GalCreateCommand()
{
    TRACE("Gallery.GalCreateCommand");
    if (StoreViewGet().SelectedCount() < 2) {
        Ui().WarningBox(GAL_TOO_FEW);
        return;
    }
    int filterIndex = 1;
    std::string folder = GalDir;
    std::string file = Ui().FileSaveDlg("Create New Gallery", folder, "MyGallery", filterIndex, GAL_FILTER);
    if (file.empty()) return;
    if (fs::path(file).extension().empty()) file += ".gal";
    GalDir = FolderOf_(file);
    std::error_code ec;
    if (fs::exists(file, ec) && Ui().YesNo(GAL_EXISTS, 2) != "Y") return;
    std::string prefix = ForceFileExt(fs::path(file).filename().string(), "");
    if (!Ui().PromptText("Create Gallery", "Enter gallery image prefix", prefix)) return;
    prefix = SanitizeName(prefix, false);
    if (prefix.empty() || prefix.size() > static_cast<size_t>(GAL_PREFIX_MAX)) {
        Ui().WarningBox(GAL_INVALID_PREFIX);
        return;
    }
    Ui().SetBusy(true);
    WriteGallery(file, prefix);
    Ui().SetBusy(false);
}

void GalOpenCommand(const std::string& prefixOverride)
{
    TRACE("Gallery.GalOpenCommand");
    std::string folder = GalDir;
    const std::string file = Ui().FileOpenDlg("Open a Gallery", folder, GAL_FILTER, OpenFilterIndex_);
    if (file.empty()) return;
    GalDir = FolderOf_(file);
    ReadGallery(file, prefixOverride);
}
