// _NewEnum of the collections: the elements as dispatch pointers, taken
// when the enumerator was made.
#pragma once

#include <vector>

#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/object.h"

namespace kiv::cdrip {

class VariantEnumerator final : public IEnumVARIANT {
public:
    static ComPtr<IEnumVARIANT> Create(std::vector<ComPtr<IDispatch>> items, std::size_t position = 0);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return refs_.AddRef(); }
    ULONG Release() override { return refs_.Release(this); }
    HRESULT Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumVARIANT** copy) override;

private:
    friend struct ::kiv::RefCount;
    VariantEnumerator(std::vector<ComPtr<IDispatch>> items, std::size_t position);
    ~VariantEnumerator();

    RefCount refs_;
    std::vector<ComPtr<IDispatch>> items_;
    std::size_t position_;
};

}  // namespace kiv::cdrip
