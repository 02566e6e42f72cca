#include "platform/com/connection_point.h"

#include <algorithm>

namespace kiv {

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IDispatch> d;
    if (FAILED(sink->QueryInterface(iid_, d.put_void())) && FAILED(sink->QueryInterface(IID_IDispatch, d.put_void())))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(lock_);
    *cookie = nextCookie_++;
    sinks_.emplace_back(*cookie, std::move(d));
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IDispatch> dropped;  // released after the lock is let go
    std::lock_guard lock(lock_);
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    dropped = std::move(it->second);
    sinks_.erase(it);
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** e) {
    if (!e) return E_POINTER;
    *e = nullptr;
    return E_NOTIMPL;
}

void ConnectionPoint::Fire(DISPID id, std::span<VARIANT> args) {
    std::vector<ComPtr<IDispatch>> targets;
    {
        std::lock_guard lock(lock_);
        for (auto& s : sinks_) targets.push_back(s.second);
    }
    for (auto& t : targets) FireDispatchEvent(t.get(), id, args);
}

void ConnectionPoint::Clear() {
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> dropped;
    std::lock_guard lock(lock_);
    dropped.swap(sinks_);
}

ComPtr<DispatchSink> DispatchSink::Create(const IID& eventsIid, Handler handler) {
    return ComPtr<DispatchSink>::adopt(new DispatchSink(eventsIid, std::move(handler)));
}

HRESULT DispatchSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT DispatchSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT DispatchSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT DispatchSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    DISPPARAMS empty{nullptr, nullptr, 0, 0};
    if (handler_) handler_(id, params ? *params : empty);
    return S_OK;
}

HRESULT EventConnection::Connect(IUnknown* source, const IID& iid, IUnknown* sink) {
    Disconnect();
    if (!source || !sink) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(iid, point.put());
    if (FAILED(hr)) return hr;
    hr = point->Advise(sink, &cookie_);
    if (FAILED(hr)) return hr;
    point_ = std::move(point);
    return S_OK;
}

void EventConnection::Disconnect() {
    if (point_) {
        point_->Unadvise(cookie_);
        point_.reset();
        cookie_ = 0;
    }
}

static const VARIANT* Arg(const DISPPARAMS& p, UINT index) {
    if (index >= p.cArgs || !p.rgvarg) return nullptr;
    const VARIANT* v = &p.rgvarg[p.cArgs - 1 - index];
    if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
    return v;
}

std::u16string EventArgText(const DISPPARAMS& params, UINT index) {
    const VARIANT* v = Arg(params, index);
    if (!v) return {};
    if (v->vt == VT_BSTR) return std::u16string(BstrView(v->bstrVal));
    if (v->vt == (VT_BYREF | VT_BSTR)) return std::u16string(BstrView(*v->pbstrVal));
    return {};
}

LONG EventArgLong(const DISPPARAMS& params, UINT index) {
    const VARIANT* v = Arg(params, index);
    if (!v) return 0;
    LONG out = 0;
    VARIANT copy = *v;
    return SUCCEEDED(dispatch_detail::ArgIn(copy, out)) ? out : 0;
}

}  // namespace kiv
