// The collections of the control (drives, tracks, CDDB records): Count, a
// 1-based Item where an index of 1 or less means the first element, and an
// enumerator. The contents may be replaced while clients hold the
// collection (a refresh rebuilds the tracks), so access is locked.
#pragma once

#include <mutex>
#include <vector>

#include "components/cdrip/dispatch_object.h"
#include "components/cdrip/variant_enumerator.h"

namespace kiv::cdrip {

template <class ICollection, class IItem, const DispInterface& Table>
class ObjectCollection final : public DispatchObject<ICollection, Table> {
public:
    static ComPtr<ObjectCollection> Create() { return ComPtr<ObjectCollection>::adopt(new ObjectCollection()); }

    HRESULT get_Count(LONG* value) override {
        if (!value) return E_POINTER;
        std::lock_guard lock(lock_);
        *value = static_cast<LONG>(items_.size());
        return S_OK;
    }
    HRESULT get_Item(LONG index, IItem** value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        std::lock_guard lock(lock_);
        if (items_.empty() || index > static_cast<LONG>(items_.size())) return E_FAIL;
        return HandOut(items_[index <= 1 ? 0 : index - 1], value);
    }
    HRESULT get__NewEnum(IUnknown** value) override {
        if (!value) return E_POINTER;
        std::vector<ComPtr<IDispatch>> snapshot;
        {
            std::lock_guard lock(lock_);
            for (const auto& item : items_) snapshot.emplace_back(static_cast<IDispatch*>(item.get()));
        }
        *value = VariantEnumerator::Create(std::move(snapshot)).detach();
        return S_OK;
    }

    void Replace(std::vector<ComPtr<IItem>> items) {
        std::vector<ComPtr<IItem>> old;
        {
            std::lock_guard lock(lock_);
            old.swap(items_);
            items_ = std::move(items);
        }
        // `old` is released here, outside the lock: a last release may run
        // code that looks at this collection again.
    }
    std::vector<ComPtr<IItem>> Items() {
        std::lock_guard lock(lock_);
        return items_;
    }

private:
    ObjectCollection() = default;
    ~ObjectCollection() override = default;

    std::mutex lock_;
    std::vector<ComPtr<IItem>> items_;
};

}  // namespace kiv::cdrip
