// Connection points: how an object's events reach its clients' sinks.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/object.h"

namespace kiv {

struct IConnectionPointContainer;
struct IEnumConnections;
struct IEnumConnectionPoints;

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** e) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

struct IProvideClassInfo : IUnknown {
    virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;

protected:
    ~IProvideClassInfo() = default;
};

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;
struct IProvideClassInfo2 : IProvideClassInfo {
    virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

protected:
    ~IProvideClassInfo2() = default;
};

// The one outgoing interface of an object. It lives inside the object and
// shares the object's reference count; sinks are called in the order they
// connected.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IUnknown* owner, const IID& eventsIid) : owner_(owner), iid_(eventsIid) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;
    ~ConnectionPoint() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return owner_->AddRef(); }
    ULONG Release() override { return owner_->Release(); }
    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(IEnumConnections** e) override;

    // Invokes `id` on every sink, in connection order. Sinks may connect and
    // disconnect from inside the call.
    void Fire(DISPID id, std::span<VARIANT> argsInReverseOrder = {});
    const IID& iid() const { return iid_; }
    // Drops every sink (the object is going away).
    void Clear();

private:
    IUnknown* owner_;
    IID iid_;
    std::mutex lock_;
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
    DWORD nextCookie_ = 1;
};

// A client's event sink: an IDispatch that hands every call to a function.
class DispatchSink final : public IDispatch {
public:
    using Handler = std::function<void(DISPID id, DISPPARAMS& params)>;
    static ComPtr<DispatchSink> Create(const IID& eventsIid, Handler handler);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return refs_.AddRef(); }
    ULONG Release() override { return refs_.Release(this); }
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT*) override;

private:
    friend struct ::kiv::RefCount;
    DispatchSink(const IID& iid, Handler h) : iid_(iid), handler_(std::move(h)) {}
    ~DispatchSink() = default;
    RefCount refs_;
    IID iid_;
    Handler handler_;
};

// Connects a sink to an object's connection point for `iid` and
// disconnects it again when it goes out of scope.
class EventConnection {
public:
    EventConnection() = default;
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    ~EventConnection() { Disconnect(); }
    HRESULT Connect(IUnknown* source, const IID& iid, IUnknown* sink);
    void Disconnect();
    bool connected() const { return bool(point_); }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Reads argument `index` (in call order) of an event as text or number.
std::u16string EventArgText(const DISPPARAMS& params, UINT index);
LONG EventArgLong(const DISPPARAMS& params, UINT index);

}  // namespace kiv
