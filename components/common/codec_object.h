// Encoders and decoders: a component object that is also its own tag object.
#pragma once

#include <memory>
#include <string>

#include "components/common/component.h"

namespace kiv {

template <class Main, const DispInterface& Table>
class CodecObject : public ComponentObject<Main, Table>, public TagObject, public IKivTagPictures,
                    public IKivTagFields {
    using Base = ComponentObject<Main, Table>;

public:
    using Base::Base;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv && riid == IID_IAudioTag) {
            *ppv = static_cast<IAudioTag*>(this);
            AddRef();
            return S_OK;
        }
        if (ppv && riid == IID_IKivTagPictures && CarriesPictures()) {
            *ppv = static_cast<IKivTagPictures*>(this);
            AddRef();
            return S_OK;
        }
        if (ppv && riid == IID_IKivTagFields && CarriesFields()) {
            *ppv = static_cast<IKivTagFields*>(this);
            AddRef();
            return S_OK;
        }
        return Base::QueryInterface(riid, ppv);
    }

    HRESULT get_PictureCount(LONG* count) override { return PictureCount(count); }
    HRESULT GetPicture(LONG index, TagPicture* picture) override { return CopyPicture(index, picture); }
    HRESULT AddPicture(const TagPicture* picture) override { return AppendPicture(picture); }
    HRESULT ClearPictures() override { return RemovePictures(); }
    HRESULT get_FieldCount(LONG* count) override { return FieldCount(count); }
    HRESULT GetField(LONG index, BSTR* name, BSTR* value) override { return CopyField(index, name, value); }
    HRESULT SetField(BSTR name, BSTR value) override { return PutField(name, value); }
    HRESULT ClearFields() override { return RemoveFields(); }
    ULONG AddRef() override { return Base::AddRef(); }
    ULONG Release() override { return Base::Release(); }

    // The tag object is the codec itself, so a reference to it keeps the
    // codec alive and a tag set through it is seen at once.
    HRESULT get_TagData(IAudioTag** out) override {
        if (!out) return E_POINTER;
        return QueryInterface(IID_IAudioTag, reinterpret_cast<void**>(out));
    }

protected:
    ~CodecObject() override = default;

    // Whether the format keeps pictures with its tags: only then does the
    // object answer IKivTagPictures.
    virtual bool CarriesPictures() const { return false; }
    // Whether the format keeps the named fields: only then does the object
    // answer IKivTagFields.
    virtual bool CarriesFields() const { return false; }

    // Posts an error text from a worker thread; the helper window fires it as
    // OnError on the creating thread. The text travels as a heap copy that is
    // freed once fired (or dropped with the window).
    void PostError(std::u16string_view text) {
        auto copy = std::make_unique<std::u16string>(text);
        if (PostMessage(this->helper(), WMH_ERROR, reinterpret_cast<WPARAM>(copy.get()), 0)) copy.release();
    }
    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM) override {
        if (msg == WMH_ERROR) {
            std::unique_ptr<std::u16string> text(reinterpret_cast<std::u16string*>(wp));
            this->FireText(DISPID_OnError, *text);
        }
        return 0;
    }
    void OnDroppedMessage(UINT msg, WPARAM wp, LPARAM) override {
        if (msg == WMH_ERROR) delete reinterpret_cast<std::u16string*>(wp);
    }
};

// Checks a file name given to Open and turns it into the system's form.
// Returns S_OK, or the reported error for a name the system cannot take.
HRESULT FileNameToPath(const CLSID& clsid, BSTR name, std::string& path);

}  // namespace kiv
