// What the core flows need from the main window's image list: which rows are highlighted, the
// list refresh, selecting a row by name, the preview of a stored image and the prefix search.
// The window implements it; kvs implements it as "the named images are highlighted". Rows are
// the entries of the store list `Images` in their order.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class StoreView {
public:
    virtual ~StoreView() = default;
    // Number of highlighted rows.
    virtual int SelectedCount() = 0;
    // False for a row below 0 or beyond the rows.
    virtual bool IsHighlighted(int row) = 0;
    // Shows the store list again; with show set the current image is shown in the preview too.
    virtual void RefreshList(bool show) = 0;
    // Selects the row of that name, or row 0 when there is none.
    virtual void SelectImageByName(const std::string& name) = 0;
    // Shows a stored image in the preview (an empty name clears it).
    virtual void ShowStoredImage(const std::string& name) = 0;
    // Index of the first store entry whose name begins with text (ignoring case), else Undef.
    virtual int32_t FindImageByPrefix(const std::string& text);
};

// No window: nothing is highlighted, refreshing and selecting do nothing.
class NullStoreView : public StoreView {
public:
    int SelectedCount() override { return 0; }
    bool IsHighlighted(int) override { return false; }
    void RefreshList(bool) override {}
    void SelectImageByName(const std::string&) override {}
    void ShowStoredImage(const std::string&) override {}
};

// The rows whose store names are in the list (compared ignoring case) are highlighted.
class NamedStoreView : public NullStoreView {
public:
    explicit NamedStoreView(const std::vector<std::string>& names);
    int SelectedCount() override;
    bool IsHighlighted(int row) override;
    void SelectImageByName(const std::string& name) override { Selected = name; }
    std::string Selected;  // the name last selected

private:
    std::unordered_set<std::string> names_;  // lower case
};

// The installed view (a NullStoreView until someone installs one).
StoreView& StoreViewGet();
// Installs view (not owned) and returns the previous one; nullptr restores the null view.
StoreView* SetStoreView(StoreView* view);
// The store search behind FindImageByPrefix: first entry of Images whose name begins with text.
int32_t StoreFindImageByPrefix(const std::string& text);
