// The frame every component object is built on: reference counting tied to
// the module's object count, error reporting through error info, the hidden
// helper window through which worker threads raise events on the creating
// thread, and the connection point of the object's events.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "components/common/interfaces.h"
#include "components/common/tag_record.h"
#include "platform/com/connection_point.h"

namespace kiv {

// Live objects and server locks of this module (each module has its own).
namespace module_state {
void AddObject();
void RemoveObject();
void Lock(bool lock);
bool CanUnload();
}  // namespace module_state

// Reports a failure with a text: error info whose source is the ProgID
// registered for `clsid` (looked up now), whose description is `text`;
// returns DISP_E_EXCEPTION.
HRESULT ReportComponentError(const CLSID& clsid, std::u16string_view text);

// Object plumbing shared by all component classes. `Main` is the object's
// main dual interface; it also answers for IDispatch.
template <class Main, const DispInterface& MainTable>
class ComponentObject : public DispatchImpl<Main, MainTable>,
                        public IConnectionPointContainer,
                        public ISupportErrorInfo,
                        public IProvideClassInfo2 {
public:
    ComponentObject(const ClassIdentity& identity, const IID& eventsIid)
        : identity_(identity), events_(static_cast<Main*>(this), eventsIid) {
        module_state::AddObject();
    }
    ComponentObject(const ComponentObject&) = delete;
    ComponentObject& operator=(const ComponentObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IidOf<Main>::value)
            *ppv = static_cast<Main*>(this);
        else if (riid == IID_ISupportErrorInfo)
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else if (riid == IID_IConnectionPointContainer)
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
            *ppv = static_cast<IProvideClassInfo2*>(this);
        else
            return E_NOINTERFACE;  // the embedding interfaces have no container here
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            // Keep the object alive while it closes itself down: the closing
            // code may hand out and take back references.
            refs_ = 1;
            FinalRelease();
            delete this;
        }
        return left;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == IidOf<Main>::value ? S_OK : S_FALSE;
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) override {
        if (!e) return E_POINTER;
        *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
        if (!cp) return E_POINTER;
        *cp = nullptr;
        if (riid != events_.iid()) return CONNECT_E_NOCONNECTION;
        *cp = &events_;
        events_.AddRef();
        return S_OK;
    }
    HRESULT GetClassInfo(ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetGUID(DWORD kind, GUID* guid) override {
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = events_.iid();
        return S_OK;
    }

    // Creation: constructs, runs the creation step, hands out `riid`.
    template <class Derived>
    static HRESULT CreateInstance(REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        auto* obj = new Derived();
        HRESULT hr = static_cast<ComponentObject*>(obj)->FinalConstruct();
        if (SUCCEEDED(hr)) {
            hr = obj->QueryInterface(riid, ppv);
            obj->Release();
            return hr;
        }
        // The failed construction's own account must reach the client, even
        // though the release that follows runs Close and clears error info.
        ComPtr<IErrorInfo> reason;
        GetErrorInfo(0, reason.put());
        obj->Release();
        SetErrorInfo(0, reason.get());
        return hr;
    }

    const ClassIdentity& identity() const { return identity_; }
    HWND helper() const { return helper_; }
    HRESULT ReportError(std::u16string_view text) const { return ReportComponentError(identity_.clsid, text); }

protected:
    virtual ~ComponentObject() { module_state::RemoveObject(); }

    // Creation step: the helper window on the creating thread. Classes that
    // load outside libraries extend this.
    virtual HRESULT FinalConstruct() {
        helper_ = CreateHelperWindow(
            identity_.helperTitle,
            [this](HWND, UINT msg, WPARAM wp, LPARAM lp) { return OnHelperMessage(msg, wp, lp); },
            [this](const MSG& m) { OnDroppedMessage(m.message, m.wParam, m.lParam); });
        return helper_ ? S_OK : E_OUTOFMEMORY;
    }
    // Last release: classes close what is open, then the window goes.
    virtual void FinalRelease() {
        events_.Clear();
        if (helper_) DestroyWindow(helper_);
        helper_ = nullptr;
    }
    // The helper window's procedure, run on the creating thread.
    virtual LRESULT OnHelperMessage(UINT, WPARAM, LPARAM) { return 0; }
    // A message that never reached the procedure: free what it carries.
    virtual void OnDroppedMessage(UINT, WPARAM, LPARAM) {}

    void Fire(DISPID id, std::span<VARIANT> args = {}) { events_.Fire(id, args); }
    void FireText(DISPID id, std::u16string_view text) {
        Variant v(text);
        Fire(id, std::span<VARIANT>(static_cast<VARIANT*>(&v), 1));
    }
    void FireLong(DISPID id, LONG value) {
        Variant v(value);
        Fire(id, std::span<VARIANT>(static_cast<VARIANT*>(&v), 1));
    }

private:
    const ClassIdentity& identity_;
    std::atomic<ULONG> refs_{1};
    ConnectionPoint events_;
    HWND helper_ = nullptr;
};

// The tag object: every codec object is its own IAudioTag.
class TagObject : public DispatchImpl<IAudioTag, kDispAudioTag> {
public:
    HRESULT get_Title(BSTR* v) override { return Get(&TagRecord::title, v); }
    HRESULT put_Title(BSTR v) override { return Put(&TagRecord::title, v); }
    HRESULT get_Artist(BSTR* v) override { return Get(&TagRecord::artist, v); }
    HRESULT put_Artist(BSTR v) override { return Put(&TagRecord::artist, v); }
    HRESULT get_Album(BSTR* v) override { return Get(&TagRecord::album, v); }
    HRESULT put_Album(BSTR v) override { return Put(&TagRecord::album, v); }
    HRESULT get_Year(BSTR* v) override { return Get(&TagRecord::year, v); }
    HRESULT put_Year(BSTR v) override { return Put(&TagRecord::year, v); }
    HRESULT get_Genre(BSTR* v) override { return Get(&TagRecord::genre, v); }
    HRESULT put_Genre(BSTR v) override { return Put(&TagRecord::genre, v); }
    HRESULT get_TrackNo(BSTR* v) override { return Get(&TagRecord::trackNo, v); }
    HRESULT put_TrackNo(BSTR v) override { return Put(&TagRecord::trackNo, v); }
    HRESULT get_Comment(BSTR* v) override { return Get(&TagRecord::comment, v); }
    HRESULT put_Comment(BSTR v) override { return Put(&TagRecord::comment, v); }

    // A consistent copy, for the worker threads that write tags.
    TagRecord Tags() const {
        std::lock_guard lock(tagLock_);
        return tags_;
    }
    void SetTags(const TagRecord& t) {
        std::lock_guard lock(tagLock_);
        tags_ = t;
    }

    // The pictures of the tag (served through IKivTagPictures by the codecs
    // whose format carries them).
    std::vector<TagPicture> Pictures() const {
        std::lock_guard lock(tagLock_);
        return pictures_;
    }
    void SetPictures(std::vector<TagPicture> pictures) {
        std::lock_guard lock(tagLock_);
        pictures_ = std::move(pictures);
    }

    // The named fields (served through IKivTagFields by the codecs whose
    // format carries them).
    std::vector<TagField> Fields() const {
        std::lock_guard lock(tagLock_);
        return fields_;
    }
    void SetFields(std::vector<TagField> fields) {
        std::lock_guard lock(tagLock_);
        fields_ = std::move(fields);
    }

protected:
    ~TagObject() = default;

private:
    HRESULT Get(std::u16string TagRecord::*field, BSTR* out) const {
        if (!out) return E_POINTER;
        std::lock_guard lock(tagLock_);
        *out = SysAllocString(std::u16string_view(tags_.*field));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Put(std::u16string TagRecord::*field, BSTR value) {
        std::lock_guard lock(tagLock_);
        tags_.*field = std::u16string(BstrView(value));
        return S_OK;
    }

protected:
    HRESULT PictureCount(LONG* count) const {
        if (!count) return E_POINTER;
        std::lock_guard lock(tagLock_);
        *count = static_cast<LONG>(pictures_.size());
        return S_OK;
    }
    HRESULT CopyPicture(LONG index, TagPicture* picture) const {
        if (!picture) return E_POINTER;
        std::lock_guard lock(tagLock_);
        if (index < 0 || static_cast<std::size_t>(index) >= pictures_.size()) return E_INVALIDARG;
        *picture = pictures_[static_cast<std::size_t>(index)];
        return S_OK;
    }
    HRESULT AppendPicture(const TagPicture* picture) {
        if (!picture) return E_POINTER;
        if (picture->data.empty() || picture->data.size() > kMaxTagPictureBytes) return E_INVALIDARG;
        std::lock_guard lock(tagLock_);
        pictures_.push_back(*picture);
        return S_OK;
    }
    HRESULT RemovePictures() {
        std::lock_guard lock(tagLock_);
        pictures_.clear();
        return S_OK;
    }
    HRESULT FieldCount(LONG* count) const {
        if (!count) return E_POINTER;
        std::lock_guard lock(tagLock_);
        *count = static_cast<LONG>(fields_.size());
        return S_OK;
    }
    HRESULT CopyField(LONG index, BSTR* name, BSTR* value) const {
        if (!name || !value) return E_POINTER;
        *name = *value = nullptr;
        std::lock_guard lock(tagLock_);
        if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) return E_INVALIDARG;
        const TagField& f = fields_[static_cast<std::size_t>(index)];
        *name = SysAllocString(std::u16string_view(f.name));
        *value = SysAllocString(std::u16string_view(f.value));
        if (*name && *value) return S_OK;
        SysFreeString(*name);
        SysFreeString(*value);
        *name = *value = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT PutField(BSTR name, BSTR value) {
        const TagFieldPlaces* known = FindTagField(BstrView(name));
        if (!known) return E_INVALIDARG;
        std::lock_guard lock(tagLock_);
        auto it = std::find_if(fields_.begin(), fields_.end(), [&](const TagField& f) { return f.name == known->name; });
        if (BstrView(value).empty()) {
            if (it != fields_.end()) fields_.erase(it);
        } else if (it != fields_.end()) {
            it->value = std::u16string(BstrView(value));
        } else {
            fields_.push_back({std::u16string(known->name), std::u16string(BstrView(value))});
        }
        return S_OK;
    }
    HRESULT RemoveFields() {
        std::lock_guard lock(tagLock_);
        fields_.clear();
        return S_OK;
    }

private:
    mutable std::mutex tagLock_;
    TagRecord tags_;
    std::vector<TagPicture> pictures_;
    std::vector<TagField> fields_;
};

// Booleans of the codecs: any non-zero put is true; gets answer 1 or 0.
inline VARIANT_BOOL CodecBool(bool b) { return b ? 1 : 0; }

}  // namespace kiv
