// What the core flows need from the main window's image list while they run: the list refresh,
// selecting a row by name, the preview of a stored image and the prefix search. The window
// implements it; without a window nothing is shown. Rows are the entries of the store list
// `Images` in their order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class StoreView {
public:
    virtual ~StoreView() = default;
    // Shows the store list again; with show set the current image is shown in the preview too.
    virtual void RefreshList(bool show) = 0;
    // Selects the row of that name, or row 0 when there is none.
    virtual void SelectImageByName(const std::string& name) = 0;
    // Shows a stored image in the preview (an empty name clears it).
    virtual void ShowStoredImage(const std::string& name) = 0;
    // Index of the first store entry whose name begins with text (ignoring case), else Undef.
    virtual int32_t FindImageByPrefix(const std::string& text);
};

// No window: refreshing and selecting do nothing.
class NullStoreView : public StoreView {
public:
    void RefreshList(bool) override {}
    void SelectImageByName(const std::string&) override {}
    void ShowStoredImage(const std::string&) override {}
};

// The installed view (a NullStoreView until someone installs one).
StoreView& StoreViewGet();
// Installs view (not owned) and returns the previous one; nullptr restores the null view.
StoreView* SetStoreView(StoreView* view);
// The store search behind FindImageByPrefix: first entry of Images whose name begins with text.
int32_t StoreFindImageByPrefix(const std::string& text);
