#include "core/StoreView.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/ImageStore.h"

static std::string Lower_(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int32_t StoreView::FindImageByPrefix(const std::string& text)
{
    TRACE("StoreView.FindImageByPrefix");
    return StoreFindImageByPrefix(text);
}

int32_t StoreFindImageByPrefix(const std::string& text)
{
    TRACE("StoreView.StoreFindImageByPrefix");
    const std::string want = Lower_(text);
    for (int i = 0; i < ImageListCount(Images); ++i) {
        const std::string name = EntryName(*Images->Items[i]);
        if (name.size() >= want.size() && Lower_(name.substr(0, want.size())) == want) return i;
    }
    return Undef;
}

NamedStoreView::NamedStoreView(const std::vector<std::string>& names)
{
    TRACE("StoreView.NamedStoreView");
    for (const std::string& n : names) names_.insert(Lower_(n));
}

int NamedStoreView::SelectedCount()
{
    TRACE("StoreView.SelectedCount");
    int n = 0;
    for (int i = 0; i < ImageListCount(Images); ++i)
        if (IsHighlighted(i)) ++n;
    return n;
}

bool NamedStoreView::IsHighlighted(int row)
{
    TRACE("StoreView.IsHighlighted");
    if (row < 0 || row >= ImageListCount(Images)) return false;
    return names_.count(Lower_(EntryName(*Images->Items[row]))) != 0;
}

static NullStoreView NullView_;
static StoreView* View_ = &NullView_;

StoreView& StoreViewGet() { return *View_; }

StoreView* SetStoreView(StoreView* view)
{
    TRACE("StoreView.SetStoreView");
    StoreView* old = View_ == &NullView_ ? nullptr : View_;
    View_ = view ? view : &NullView_;
    return old;
}
