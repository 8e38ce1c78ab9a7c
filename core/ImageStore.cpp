#include "core/ImageStore.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/UiServices.h"
#include "base/miscprocs.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "formats/FF_PNG.h"
#include "image/ImgBasic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

ImageList* Images = nullptr;

// ---------------------------------------------------------------- entries

void ImageEntryInit(ImageEntry& entry)
{
    TRACE("ImageStore.ImageEntryInit");
    std::memset(&entry, 0, sizeof entry);
    entry.RecordSize = IMAGE_ENTRY_SIZE;
}

std::string EntryName(const ImageEntry& entry)
{
    TRACE("ImageStore.EntryName");
    size_t n = entry.Name[0] <= IMAGE_NAME_MAX ? entry.Name[0] : IMAGE_NAME_MAX;
    return std::string(reinterpret_cast<const char*>(entry.Name + 1), n);
}

void EntrySetName(ImageEntry& entry, const std::string& name)
{
    TRACE("ImageStore.EntrySetName");
    size_t n = name.size() < static_cast<size_t>(IMAGE_NAME_MAX) ? name.size() : IMAGE_NAME_MAX;
    entry.Name[0] = static_cast<uint8_t>(n);
    std::memcpy(entry.Name + 1, name.data(), n);
}

static char Lower_(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameImageName(const std::string& a, const std::string& b)
{
    TRACE("ImageStore.SameImageName");
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower_(a[i]) != Lower_(b[i])) return false;
    return true;
}

static std::string LowerName_(std::string s)
{
    for (char& c : s) c = Lower_(c);
    return s;
}

static bool NameLess_(const ImageEntry* a, const ImageEntry* b)
{
    const std::string x = EntryName(*a), y = EntryName(*b);
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
        return static_cast<unsigned char>(Lower_(p)) < static_cast<unsigned char>(Lower_(q));
    });
}

std::string SafeStoredName(const std::string& name)
{
    TRACE("ImageStore.SafeStoredName");
    std::string s = SanitizeChars(name);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '_';
    if (!s.empty() && s.find_first_not_of('.') == std::string::npos) s.assign(s.size(), '_');
    if (s.size() > static_cast<size_t>(IMAGE_NAME_MAX)) s.resize(IMAGE_NAME_MAX);
    return s;
}

bool IsSafeStoredName(const std::string& name)
{
    TRACE("ImageStore.IsSafeStoredName");
    if (name.empty() || name.size() > static_cast<size_t>(IMAGE_NAME_MAX)) return false;
    if (name.find_first_not_of('.') == std::string::npos) return false;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) return false;
    return true;
}

// ---------------------------------------------------------------- list

ImageList* ImageListCreate()
{
    TRACE("ImageStore.ImageListCreate");
    return new ImageList;
}

void ImageListClear(ImageList* list)
{
    TRACE("ImageStore.ImageListClear");
    if (!list) return;
    for (ImageEntry* e : list->Items) delete e;
    list->Items.clear();
}

void ImageListFree(ImageList*& list)
{
    TRACE("ImageStore.ImageListFree");
    ImageListClear(list);
    delete list;
    list = nullptr;
}

int ImageListCount(const ImageList* list)
{
    TRACE("ImageStore.ImageListCount");
    return list ? static_cast<int>(list->Items.size()) : 0;
}

bool ImageListCheckIndex(const ImageList* list, int index, bool report)
{
    TRACE("ImageStore.ImageListCheckIndex");
    bool ok = index >= 0 && index < ImageListCount(list);
    if (!ok && report) Ui().ErrorBox("List index violation: " + std::to_string(index));
    return ok;
}

ImageEntry* ImageListGet(ImageList* list, int index)
{
    TRACE("ImageStore.ImageListGet");
    if (!ImageListCheckIndex(list, index, true)) return nullptr;
    return list->Items[index];
}

ImageEntry* ImageListAdd(ImageList* list)
{
    TRACE("ImageStore.ImageListAdd");
    if (!list) return nullptr;
    ImageEntry* e = new ImageEntry;
    ImageEntryInit(*e);
    list->Items.push_back(e);
    return e;
}

void ImageListDelete(ImageList* list, int index)
{
    TRACE("ImageStore.ImageListDelete");
    if (!ImageListCheckIndex(list, index, true)) return;
    delete list->Items[index];
    list->Items.erase(list->Items.begin() + index);
}

int32_t ImageListFind(const ImageList* list, const std::string& name)
{
    TRACE("ImageStore.ImageListFind");
    for (int i = 0; i < ImageListCount(list); ++i)
        if (SameImageName(EntryName(*list->Items[i]), name)) return i;
    return Undef;
}

ImageEntry* ImageListFindOrAdd(ImageList* list, const std::string& name)
{
    TRACE("ImageStore.ImageListFindOrAdd");
    int32_t i = ImageListFind(list, name);
    if (i != Undef) return list->Items[i];
    return ImageListAdd(list);
}

bool ImageListRename(ImageList* list, const std::string& oldName, const std::string& newName)
{
    TRACE("ImageStore.ImageListRename");
    int32_t i = ImageListFind(list, oldName);
    if (i == Undef) return false;
    EntrySetName(*list->Items[i], newName);
    return true;
}

void ImageListSort(ImageList* list)
{
    TRACE("ImageStore.ImageListSort");
    if (list) std::stable_sort(list->Items.begin(), list->Items.end(), NameLess_);
}

double ImageListTotalSize(const ImageList* list)
{
    TRACE("ImageStore.ImageListTotalSize");
    double total = 0;
    for (int i = 0; i < ImageListCount(list); ++i) total += list->Items[i]->FileSize;
    return total;
}

// ---------------------------------------------------------------- index file

static std::string Folder_(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

static uint32_t Le32_(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

static void PutLe32_(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

static void EntryFromBytes_(ImageEntry& e, const uint8_t* b)
{
    TRACE("ImageStore.EntryFromBytes_");
    e.RecordSize = IMAGE_ENTRY_SIZE;
    std::memcpy(e.Name, b + 4, sizeof e.Name);
    if (e.Name[0] > IMAGE_NAME_MAX) e.Name[0] = IMAGE_NAME_MAX;
    e.Positions = static_cast<int32_t>(Le32_(b + 132));
    e.Reserved = static_cast<int32_t>(Le32_(b + 136));
    e.FileSize = static_cast<int32_t>(Le32_(b + 140));
    e.FromLogoFile = static_cast<int32_t>(Le32_(b + 144));
    e.AnimStart = static_cast<int32_t>(Le32_(b + 148));
}

static void EntryToBytes_(const ImageEntry& e, uint8_t* b)
{
    TRACE("ImageStore.EntryToBytes_");
    PutLe32_(b, IMAGE_ENTRY_SIZE);
    std::memcpy(b + 4, e.Name, sizeof e.Name);
    PutLe32_(b + 132, static_cast<uint32_t>(e.Positions));
    PutLe32_(b + 136, 0);
    PutLe32_(b + 140, static_cast<uint32_t>(e.FileSize));
    PutLe32_(b + 144, static_cast<uint32_t>(e.FromLogoFile));
    PutLe32_(b + 148, static_cast<uint32_t>(e.AnimStart));
}

// Reads the entries of an open index; returns at the first sign of a malformed file.
static void ReadEntries_(ImageList* list, int f)
{
    TRACE("ImageStore.ReadEntries_");
    const int64_t size = FSize(f);
    uint8_t head[IMAGE_INDEX_HEADER];
    // A header shorter than 12 bytes leaves the entry count unread: no index.
    if (size < IMAGE_INDEX_HEADER) return;
    FRead(f, head, 4);
    const int64_t headerSize = Le32_(head);
    if (headerSize < IMAGE_INDEX_HEADER || headerSize > size) return;
    FSeek(f, 0);
    FRead(f, head, IMAGE_INDEX_HEADER);
    if (Le32_(head + 4) != static_cast<uint32_t>(IMAGE_INDEX_VERSION)) return;
    // A later header may be longer; its entries still start right behind it.
    int64_t count = Le32_(head + 8);
    const int64_t fits = (size - headerSize) / IMAGE_ENTRY_SIZE;
    if (count > fits) count = fits;
    FSeek(f, headerSize);
    uint8_t rec[IMAGE_ENTRY_SIZE];
    std::unordered_set<std::string> seen;  // a damaged index may repeat names; the first one counts
    for (int64_t i = 0; i < count; ++i) {
        FRead(f, rec, IMAGE_ENTRY_SIZE);
        ImageEntry e;
        EntryFromBytes_(e, rec);
        const std::string name = EntryName(e);
        const std::string safe = SafeStoredName(name);
        if (safe.empty() || !seen.insert(LowerName_(safe)).second) continue;
        if (safe != name) EntrySetName(e, safe);
        *ImageListAdd(list) = e;
    }
}

void ReadImageIndex(ImageList* list, const std::string& path)
{
    TRACE("ImageStore.ReadImageIndex");
    ImageListClear(list);
    if (!list) return;
    int f = Undef;
    MonBlockTransparent([&] {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return;
        FOpen(f, path, FM_READ);
        ReadEntries_(list, f);
        FClose(f);
    });
    MonClearError();
}

void RefreshImageList(ImageList* list, const std::string& folder)
{
    TRACE("ImageStore.RefreshImageList");
    if (!list) return;
    const std::string dir = Folder_(folder);
    ReadImageIndex(list, dir + IMAGE_INDEX_FILE);
    std::vector<std::pair<std::string, int64_t>> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (!it->is_regular_file(e2)) continue;
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || !SameImageName(name.substr(name.size() - 4), ".png")) continue;
        int64_t size = static_cast<int64_t>(it->file_size(e2));
        if (e2) size = 0;
        found.emplace_back(name, size);
    }
    std::sort(found.begin(), found.end());
    std::unordered_map<std::string, int> index;
    for (int i = ImageListCount(list) - 1; i >= 0; --i) index[LowerName_(EntryName(*list->Items[i]))] = i;
    for (const auto& [name, size] : found) {
        auto it = index.find(LowerName_(name));
        ImageEntry* e = nullptr;
        if (it == index.end()) {
            index[LowerName_(name)] = ImageListCount(list);
            e = ImageListAdd(list);
            EntrySetName(*e, name);
            e->Positions = 7;
        } else {
            e = list->Items[it->second];
            // On a case-sensitive file system the index may spell the name differently; the file wins.
            std::error_code e3;
            if (!fs::is_regular_file(dir + EntryName(*e), e3) && name.size() <= static_cast<size_t>(IMAGE_NAME_MAX))
                EntrySetName(*e, name);
        }
        e->FileSize = static_cast<int32_t>(size > INT32_MAX ? INT32_MAX : size);
    }
    for (int i = ImageListCount(list) - 1; i >= 0; --i) {
        const std::string name = EntryName(*list->Items[i]);
        std::error_code e4;
        if (name.empty() || !fs::is_regular_file(dir + name, e4)) ImageListDelete(list, i);
    }
    ImageListSort(list);
}

void WriteImageIndex(ImageList* list, const std::string& folder)
{
    TRACE("ImageStore.WriteImageIndex");
    if (!list) return;
    ImageListSort(list);
    const std::string dir = Folder_(folder);
    const std::string path = dir + IMAGE_INDEX_FILE;
    const std::string temp = path + ".tmp";
    const int64_t count = ImageListCount(list);
    bool written = false;
    MonBlockTransparent([&] {
        int f = Undef;
        FOpen(f, temp, FM_CREATE | FM_WRITE);
        uint8_t head[IMAGE_INDEX_HEADER];
        PutLe32_(head, IMAGE_INDEX_HEADER);
        PutLe32_(head + 4, IMAGE_INDEX_VERSION);
        PutLe32_(head + 8, static_cast<uint32_t>(count));
        FWrite(f, head, IMAGE_INDEX_HEADER);
        uint8_t rec[IMAGE_ENTRY_SIZE];
        for (const ImageEntry* e : list->Items) {
            EntryToBytes_(*e, rec);
            FWrite(f, rec, IMAGE_ENTRY_SIZE);
        }
        FClose(f);
        written = true;
    });
    MonClearError();
    std::error_code ec;
    // A short file (a full disk shows only when the data is flushed) must not replace the old index.
    if (written && fs::file_size(temp, ec) == static_cast<uintmax_t>(IMAGE_INDEX_HEADER + count * IMAGE_ENTRY_SIZE) &&
        !ec) {
        fs::rename(temp, path, ec);
        if (!ec) return;
    }
    fs::remove(temp, ec);
}

// ---------------------------------------------------------------- stored images

bool LoadStoredImage(const std::string& path, Image& image)
{
    TRACE("ImageStore.LoadStoredImage");
    bool ok = false;
    MonBlockTransparent([&] {
        PNGLoad(ForceFileExt(path, ".png"), image);
        ok = true;
    });
    ok = ok && MonOK();
    MonClearError();
    return ok;
}

bool SaveStoredImage(const std::string& path, Image& image)
{
    TRACE("ImageStore.SaveStoredImage");
    const std::string name = ForceFileExt(path, ".png");
    // Written beside the final name and renamed over it, so a stored image is never half a file.
    const std::string temp = name + ".tmp";
    bool ok = false;
    MonBlockTransparent([&] {
        PNGCompressionLevel(7);
        PNGSave(temp, image);
        ok = true;
    });
    ok = ok && MonOK();
    MonClearError();
    std::error_code ec;
    if (ok) fs::rename(temp, name, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

bool RenameImage(const std::string& oldName, const std::string& newName)
{
    TRACE("ImageStore.RenameImage");
    if (!IsSafeStoredName(oldName) || !IsSafeStoredName(newName)) return false;
    const std::string dir = Folder_(GetStorageDir());
    const fs::path from = dir + oldName, to = dir + newName;
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) return false;
    // Renaming must never replace another image (a case-only change names the same file).
    if (fs::exists(to, ec) && !fs::equivalent(from, to, ec)) return false;
    fs::rename(from, to, ec);
    if (ec) return false;
    ImageListRename(Images, oldName, newName);
    return true;
}

// ---------------------------------------------------------------- the program's list

void StoreLoad()
{
    TRACE("ImageStore.StoreLoad");
    if (!Images) Images = ImageListCreate();
    RefreshImageList(Images, GetStorageDir());
}

void StoreWriteIndex()
{
    TRACE("ImageStore.StoreWriteIndex");
    if (Images) WriteImageIndex(Images, GetStorageDir());
}

void StoreFree()
{
    TRACE("ImageStore.StoreFree");
    if (Images) ImageListFree(Images);
}

int StoreCount()
{
    TRACE("ImageStore.StoreCount");
    return ImageListCount(Images);
}

void StoreReload()
{
    TRACE("ImageStore.StoreReload");
    StoreWriteIndex();
    StoreLoad();
}
