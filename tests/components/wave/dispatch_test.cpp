#include <gtest/gtest.h>

#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

// Late-bound calls, as scripting hosts and property bags make them.
class DispatchTest : public ComponentTest {
protected:
    DISPID Id(IDispatch* d, const char16_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << ToUtf8(name);
        return id;
    }
    HRESULT Put(IDispatch* d, DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS p{&value, &named, 1, 1};
        return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr);
    }
    HRESULT Get(IDispatch* d, DISPID id, Variant& out) {
        DISPPARAMS p{nullptr, nullptr, 0, 0};
        return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &p, &out, nullptr, nullptr);
    }
};

TEST_F(DispatchTest, PropertiesByNameWithTheCodecsBooleanRule) {
    auto enc = Create<IDispatch>(kClassWaveEncoder.clsid, IID_IDispatch);
    DISPID id = Id(enc.get(), u"addextension");
    EXPECT_EQ(id, 11);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    ASSERT_EQ(Put(enc.get(), id, v), S_OK);
    Variant got;
    ASSERT_EQ(Get(enc.get(), id, got), S_OK);
    EXPECT_EQ(got.vt, VT_BOOL);
    EXPECT_EQ(got.boolVal, 1);

    ComPtr<IDispatch> tag;
    ASSERT_EQ(enc->QueryInterface(IID_IAudioTag, tag.put_void()), S_OK);
    DISPID title = Id(tag.get(), u"Title");
    EXPECT_EQ(title, 1);
    Variant text(std::u16string_view(u"\u00c9t\u00e9"));
    ASSERT_EQ(Put(tag.get(), title, text), S_OK);
    Variant back;
    ASSERT_EQ(Get(tag.get(), title, back), S_OK);
    ASSERT_EQ(back.vt, VT_BSTR);
    EXPECT_EQ(BstrView(back.bstrVal), u"\u00c9t\u00e9");

    LPOLESTR bogus[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
    DISPID bad;
    EXPECT_EQ(enc->GetIDsOfNames(IID_NULL, bogus, 1, 0, &bad), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(bad, DISPID_UNKNOWN);
}

TEST_F(DispatchTest, MethodErrorsComeBackAsExceptionInfo) {
    auto enc = Create<IDispatch>(kClassWaveEncoder.clsid, IID_IDispatch);
    DISPID write = Id(enc.get(), u"Write");
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;  // count (last argument first)
    args[0].lVal = 4;
    BYTE data[4] = {};
    args[1].vt = VT_BYREF | VT_UI1;
    args[1].byref = data;
    DISPPARAMS p{args, nullptr, 2, 0};
    EXCEPINFO ex{};
    EXPECT_EQ(enc->Invoke(write, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(BstrView(ex.bstrDescription), u"Error: cannot write: file is not open.");
    EXPECT_EQ(BstrView(ex.bstrSource), u"ZEMOR.WaveEncoder.1");
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    TakeError();
    DISPPARAMS one{args, nullptr, 1, 0};
    EXPECT_EQ(enc->Invoke(write, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchTest, OutArgumentsByReference) {
    WriteFileBytes(dir_ / "a.wav", MakeWav(PatternBytes(10)));
    auto dec = Create<IDispatch>(kClassWaveDecoder.clsid, IID_IDispatch);
    Variant name(std::u16string_view(FromUtf8(dir_ / "a.wav")));
    DISPPARAMS openArgs{&name, nullptr, 1, 0};
    ASSERT_EQ(dec->Invoke(Id(dec.get(), u"Open"), IID_NULL, 0, DISPATCH_METHOD, &openArgs, nullptr, nullptr, nullptr), S_OK);
    BYTE buf[64] = {};
    LONG got = -5;
    VARIANT args[3];
    for (auto& a : args) VariantInit(&a);
    args[0].vt = VT_BYREF | VT_I4;  // Read (out)
    args[0].plVal = &got;
    args[1].vt = VT_I4;  // count
    args[1].lVal = 64;
    args[2].vt = VT_BYREF | VT_UI1;  // data
    args[2].byref = buf;
    DISPPARAMS p{args, nullptr, 3, 0};
    ASSERT_EQ(dec->Invoke(Id(dec.get(), u"Read"), IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(got, 10);
    auto expect = PatternBytes(10);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), buf));
}

}  // namespace
}  // namespace kiv::test
