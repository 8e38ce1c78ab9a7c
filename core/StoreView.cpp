#include "core/StoreView.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/StrUtil.h"
#include "core/ImageStore.h"

int32_t StoreView::FindImageByPrefix(const std::string& text)
{
    TRACE("StoreView.FindImageByPrefix");
    return StoreFindImageByPrefix(text);
}

int32_t StoreFindImageByPrefix(const std::string& text)
{
    TRACE("StoreView.StoreFindImageByPrefix");
    const std::string want = StrLower(text);
    for (int i = 0; i < ImageListCount(Images); ++i) {
        const std::string name = EntryName(*Images->Items[i]);
        if (name.size() >= want.size() && StrLower(name.substr(0, want.size())) == want) return i;
    }
    return Undef;
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
