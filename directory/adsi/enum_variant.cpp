#include "directory/adsi/enum_variant.h"

#include <oleauto.h>

#include <algorithm>
#include <array>

#include "directory/adsi/adsi_error.h"

namespace directory::adsi {

namespace {

// One batch of variants, cleared on every path.
class Batch {
public:
    Batch() {
        for (VARIANT& item : m_items)
            VariantInit(&item);
    }
    ~Batch() { clear(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    VARIANT* data() noexcept { return m_items.data(); }
    VARIANT& operator[](ULONG i) noexcept { return m_items[i]; }
    void clear() noexcept {
        for (VARIANT& item : m_items)
            VariantClear(&item);
    }

private:
    std::array<VARIANT, kEnumerationBatch> m_items;
};

} // namespace

void forEachVariant(IEnumVARIANT& items, const std::function<void(VARIANT&)>& visit, std::string_view step) {
    Batch batch;
    for (;;) {
        ULONG fetched = 0;
        const HRESULT hr = items.Next(kEnumerationBatch, batch.data(), &fetched);
        check(hr, step);
        // The last batch comes with S_FALSE and may still hold items.
        fetched = std::min(fetched, kEnumerationBatch);
        for (ULONG i = 0; i < fetched; ++i)
            visit(batch[i]);
        batch.clear();
        if (hr == S_FALSE || fetched == 0)
            return;
    }
}

} // namespace directory::adsi
