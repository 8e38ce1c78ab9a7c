#include "core/ImageStore.h"

#include "base/Basic.h"
#include "base/Bytes.h"
#include "base/FileUtil.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"
#include "base/UiServices.h"
#include "base/WriteJournal.h"
#include "core/Names.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "formats/FF_PNG.h"
#include "image/ImgBasic.h"
#include "platform/DrivePath.h"

#include <sys/stat.h>

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
    const size_t n = NameCutUtf8(name, IMAGE_NAME_MAX).size();
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

static bool NameLess_(const ImageEntry* a, const ImageEntry* b)
{
    const std::string x = EntryName(*a), y = EntryName(*b);
    // Names that differ only in case keep one order, whatever order the index held them in.
    if (SameImageName(x, y)) return x < y;
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
    return NameCutUtf8(s, IMAGE_NAME_MAX);
}

std::string StoredSpelling(const std::string& folder, const std::string& name)
{
    TRACE("ImageStore.StoredSpelling");
    std::error_code ec;
    if (fs::exists(folder + name, ec)) return name;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (SameImageName(n, name)) return n;
    }
    return std::string();
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
    // A folder copied by hand may hold names that differ only in case: the exact one wins.
    int32_t loose = Undef;
    for (int i = 0; i < ImageListCount(list); ++i) {
        const std::string n = EntryName(*list->Items[i]);
        if (n == name) return i;
        if (loose == Undef && SameImageName(n, name)) loose = i;
    }
    return loose;
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

// The index as this program last read or wrote it, so a change by another program shows.
struct IndexStamp_ {
    std::string path;
    int64_t mtimeNs = -1, size = -1;
    uint64_t inode = 0;  // every safe write makes a new file, so a same-size change in one clock tick shows too
    bool operator==(const IndexStamp_& o) const
    {
        return path == o.path && mtimeNs == o.mtimeNs && size == o.size && inode == o.inode;
    }
};
static IndexStamp_ LastIndex_;

// The index of a store folder in whatever letter case it is stored (mtools writes HEADERS.DAT).
static std::string IndexFile_(const std::string& dir)
{
    const std::string found = DriveFindName(dir, IMAGE_INDEX_FILE);
    return dir + (found.empty() ? std::string(IMAGE_INDEX_FILE) : found);
}

static IndexStamp_ IndexStampOf_(const std::string& dir)
{
    IndexStamp_ s;
    s.path = IndexFile_(dir);
    struct stat st;
    if (stat(s.path.c_str(), &st) != 0) return s;
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = static_cast<int64_t>(st.st_size);
    s.inode = static_cast<uint64_t>(st.st_ino);
    return s;
}

static void IndexStampRemember_(const std::string& dir) { LastIndex_ = IndexStampOf_(dir); }

static void EntryFromBytes_(ImageEntry& e, const uint8_t* b)
{
    TRACE("ImageStore.EntryFromBytes_");
    e.RecordSize = IMAGE_ENTRY_SIZE;
    std::memcpy(e.Name, b + 4, sizeof e.Name);
    if (e.Name[0] > IMAGE_NAME_MAX) e.Name[0] = IMAGE_NAME_MAX;
    e.Positions = static_cast<int32_t>(BytesGetLE32(b + 132));
    e.Reserved = static_cast<int32_t>(BytesGetLE32(b + 136));
    e.FileSize = static_cast<int32_t>(BytesGetLE32(b + 140));
    e.FromLogoFile = static_cast<int32_t>(BytesGetLE32(b + 144));
    e.AnimStart = static_cast<int32_t>(BytesGetLE32(b + 148));
}

static void EntryToBytes_(const ImageEntry& e, uint8_t* b)
{
    TRACE("ImageStore.EntryToBytes_");
    BytesPutLE32(b, IMAGE_ENTRY_SIZE);
    std::memcpy(b + 4, e.Name, sizeof e.Name);
    BytesPutLE32(b + 132, static_cast<uint32_t>(e.Positions));
    BytesPutLE32(b + 136, 0);
    BytesPutLE32(b + 140, static_cast<uint32_t>(e.FileSize));
    BytesPutLE32(b + 144, static_cast<uint32_t>(e.FromLogoFile));
    BytesPutLE32(b + 148, static_cast<uint32_t>(e.AnimStart));
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
    const int64_t headerSize = BytesGetLE32(head);
    if (headerSize < IMAGE_INDEX_HEADER || headerSize > size) return;
    FSeek(f, 0);
    FRead(f, head, IMAGE_INDEX_HEADER);
    if (BytesGetLE32(head + 4) != static_cast<uint32_t>(IMAGE_INDEX_VERSION)) return;
    // A later header may be longer; its entries still start right behind it.
    int64_t count = BytesGetLE32(head + 8);
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
        if (safe.empty() || !seen.insert(safe).second) continue;
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
    // Stamped before the read: a change made meanwhile makes the next check read again.
    if (list == Images) IndexStampRemember_(dir);
    ReadImageIndex(list, IndexFile_(dir));
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
    std::unordered_set<std::string> onDisk;
    for (const auto& f : found) onDisk.insert(f.first);
    std::unordered_map<std::string, int> exact, loose;
    for (int i = ImageListCount(list) - 1; i >= 0; --i) {
        const std::string n = EntryName(*list->Items[i]);
        exact[n] = i;
        // An entry spelled differently from its file (the index of a case-insensitive copy) follows
        // the file; an entry whose own spelling exists keeps it.
        if (!onDisk.count(n)) loose[StrLower(n)] = i;
    }
    for (const auto& [name, size] : found) {
        ImageEntry* e = nullptr;
        auto it = exact.find(name);
        auto lit = loose.find(StrLower(name));
        if (it != exact.end()) {
            e = list->Items[it->second];
        } else if (lit != loose.end() && name.size() <= static_cast<size_t>(IMAGE_NAME_MAX)) {
            e = list->Items[lit->second];
            EntrySetName(*e, name);
            loose.erase(lit);
        } else {
            exact[name] = ImageListCount(list);
            e = ImageListAdd(list);
            EntrySetName(*e, name);
            e->Positions = 7;
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
    const int64_t count = ImageListCount(list);
    std::string bytes(static_cast<size_t>(IMAGE_INDEX_HEADER + count * IMAGE_ENTRY_SIZE), '\0');
    auto* at = reinterpret_cast<uint8_t*>(bytes.data());
    BytesPutLE32(at, IMAGE_INDEX_HEADER);
    BytesPutLE32(at + 4, IMAGE_INDEX_VERSION);
    BytesPutLE32(at + 8, static_cast<uint32_t>(count));
    at += IMAGE_INDEX_HEADER;
    for (const ImageEntry* e : list->Items) {
        EntryToBytes_(*e, at);
        at += IMAGE_ENTRY_SIZE;
    }
    SafeWrite(IndexFile_(Folder_(folder)), bytes);
    if (list == Images) IndexStampRemember_(Folder_(folder));
}

// ---------------------------------------------------------------- stored images

bool LoadStoredImage(const std::string& path, Image& image)
{
    TRACE("ImageStore.LoadStoredImage");
    bool ok = false;
    MonBlockTransparent([&] {
        DriveFetch(ForceFileExt(path, ".png"));
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
    bool ok = false;
    MonBlockTransparent([&] {
        SafeWriteWith(ForceFileExt(path, ".png"), [&](const std::string& temp) {
            PNGCompressionLevel(7);
            PNGSave(temp, image);
        });
        ok = true;
    });
    ok = ok && MonOK();
    MonClearError();
    return ok;
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
    JournalNote(from.string());
    JournalNote(to.string());
    ImageListRename(Images, oldName, newName);
    return true;
}

// ---------------------------------------------------------------- the program's list

void StoreLoad()
{
    TRACE("ImageStore.StoreLoad");
    // Read under the shared lock, so the index and the folder are read between two changes. A
    // reader that cannot get it still reads: every file it reads is whole either way.
    const StoreLockScope lock(LOCK_STORE, false);
    if (!Images) Images = ImageListCreate();
    RefreshImageList(Images, GetStorageDir());
}

void StoreWriteIndex()
{
    TRACE("ImageStore.StoreWriteIndex");
    if (!Images) return;
    // Outside a command this is the window writing its list: taking the lock reads the index again
    // when another program changed it, so its work is kept rather than written over.
    const StoreLockScope lock(LOCK_STORE, true);
    if (!lock.Held) return MonErrorMsg(STORE_LOCK_ERROR_CLASS, STORE_LOCK_BUSY, __LINE__);
    WriteImageIndex(Images, GetStorageDir());
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

bool StoreIndexChangedElsewhere()
{
    TRACE("ImageStore.StoreIndexChangedElsewhere");
    if (!Images) return false;
    const IndexStamp_ now = IndexStampOf_(Folder_(GetStorageDir()));
    return !(now == LastIndex_);
}

void StoreReloadIfChanged()
{
    TRACE("ImageStore.StoreReloadIfChanged");
    if (StoreIndexChangedElsewhere()) StoreLoad();
}

// Every outermost take of the store lock, by whichever command, makes this list current.
[[maybe_unused]] static const bool ReloadOnLock_ = (StoreLockSetReload(StoreReloadIfChanged), true);

void StoreReload()
{
    TRACE("ImageStore.StoreReload");
    StoreWriteIndex();
    StoreLoad();
}
