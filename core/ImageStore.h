// The image store: one PNG per image in the storage folder and the index "headers.dat" that
// keeps, per image, the positions it may be used at and where it came from. The PNG files are
// the truth; every refresh reconciles the index with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Image;

constexpr int IMAGE_ENTRY_SIZE = 152;
constexpr int IMAGE_NAME_MAX = 127;
constexpr const char* IMAGE_INDEX_FILE = "headers.dat";
constexpr int IMAGE_INDEX_HEADER = 12;
constexpr int IMAGE_INDEX_VERSION = 1;

// One stored image, byte for byte as in "headers.dat" (little-endian).
struct ImageEntry {
    uint32_t RecordSize;   // always 152
    uint8_t Name[128];     // length byte (0-127) + characters; the file name including ".png"
    int32_t Positions;     // 1 Startup, 2 Wait, 4 Turn Off
    int32_t Reserved;
    int32_t FileSize;      // size of the PNG, refreshed at every folder scan
    int32_t FromLogoFile;  // -1 when imported from an 8-bit logo file (its palette is kept)
    int32_t AnimStart;     // that logo file's byte 50 when FromLogoFile is set
};
static_assert(sizeof(ImageEntry) == IMAGE_ENTRY_SIZE, "ImageEntry must stay 152 bytes");

// All zero except RecordSize.
void ImageEntryInit(ImageEntry& entry);
std::string EntryName(const ImageEntry& entry);
// Sets the name, cut to 127 characters; the bytes after it are left as they are.
void EntrySetName(ImageEntry& entry, const std::string& name);

// Ordered list of entries; owns them.
struct ImageList {
    std::vector<ImageEntry*> Items;
};

// The process-wide store list (created at start-up, freed at shut-down).
extern ImageList* Images;

ImageList* ImageListCreate();
void ImageListFree(ImageList*& list);
void ImageListClear(ImageList* list);
int ImageListCount(const ImageList* list);
// On a bad index with report set: the error box "List index violation: <index>".
bool ImageListCheckIndex(const ImageList* list, int index, bool report);
ImageEntry* ImageListGet(ImageList* list, int index);
ImageEntry* ImageListAdd(ImageList* list);
void ImageListDelete(ImageList* list, int index);
// Index of the first entry of that name ignoring case, else Undef.
int32_t ImageListFind(const ImageList* list, const std::string& name);
// The entry of that name, or a new appended one whose name the caller fills.
ImageEntry* ImageListFindOrAdd(ImageList* list, const std::string& name);
bool ImageListRename(ImageList* list, const std::string& oldName, const std::string& newName);
void ImageListSort(ImageList* list);
double ImageListTotalSize(const ImageList* list);

// Names compared the way the store compares them (ignoring case).
bool SameImageName(const std::string& a, const std::string& b);
// A name read from a file made safe to join to the storage folder: cleaned like a typed name,
// control characters replaced, a name of dots only made harmless. Never leads out of the folder.
std::string SafeStoredName(const std::string& name);
// The spelling of the file of folder (trailing separator) that is name ignoring case, the exact
// one first; empty when there is none. Writers use it so two spellings never become two files.
std::string StoredSpelling(const std::string& folder, const std::string& name);
// Whether name may be used as a file of the storage folder as it stands.
bool IsSafeStoredName(const std::string& name);

// headers.dat: path is the index file; folder is the storage folder (trailing separator optional).
void ReadImageIndex(ImageList* list, const std::string& path);
void RefreshImageList(ImageList* list, const std::string& folder);
// Replaces headers.dat through the safe write path; a failure is an error of the monitor.
void WriteImageIndex(ImageList* list, const std::string& folder);

bool LoadStoredImage(const std::string& path, Image& image);
bool SaveStoredImage(const std::string& path, Image& image);
// Renames the file in the storage folder and then the entry of the store list. Refuses a name
// that is not a plain file name or that another file already has.
bool RenameImage(const std::string& oldName, const std::string& newName);

// The store list of the program: create it and fill it from the storage folder; write its
// index; free it; count it.
void StoreLoad();
// StoreWriteIndex holds the store lock while it writes (an error of the monitor when it is busy).
void StoreWriteIndex();
void StoreFree();
int StoreCount();
// Whether headers.dat changed on disk (its time or size) since this program last read or wrote it.
bool StoreIndexChangedElsewhere();
// Reads the store list again when another program changed headers.dat (before a change is made).
void StoreReloadIfChanged();
// WriteImageIndex then RefreshImageList of the storage folder (the window's list reload).
void StoreReload();
