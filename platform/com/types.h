// Basic types and result codes of the object model.
//
// The components speak the vocabulary of a COM-style object model: 32-bit
// HRESULTs, GUIDs, the PCM format record and a few fixed-width integer
// names. Values match the ones every COM client expects, so texts such as
// "0x80020009" in logs and tests mean the same thing everywhere.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace kiv {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using QWORD = std::uint64_t;
using BOOL = int;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
using HRESULT = std::int32_t;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT MakeHResult(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHResult(0x8002802B);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MakeHResult(0x80040151);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
constexpr HRESULT OLE_E_NOCONNECTION = MakeHResult(0x80040004);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// errno values travel as FACILITY_WIN32 results, the way system errors do.
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t code) {
    return code == 0 ? S_OK : MakeHResult((code & 0xFFFFu) | 0x80070000u);
}

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const GUID& a, const GUID& b) {
        return std::memcmp(&a, &b, sizeof(GUID)) == 0;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr const GUID& IID_NULL = GUID_NULL;

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) at compile
// time, so identities are written once, as text, in the form the registry uses.
constexpr GUID MakeGuid(const char* s) {
    auto hex = [](char c) -> std::uint32_t {
        return c >= '0' && c <= '9'   ? std::uint32_t(c - '0')
               : c >= 'a' && c <= 'f' ? std::uint32_t(c - 'a' + 10)
               : c >= 'A' && c <= 'F' ? std::uint32_t(c - 'A' + 10)
                                      : throw "bad hex digit in GUID";
    };
    if (*s == '{') ++s;
    auto take = [&](int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (*s == '-') ++s;
            v = (v << 4) | hex(*s++);
        }
        return v;
    };
    GUID g{};
    g.Data1 = take(8);
    g.Data2 = static_cast<std::uint16_t>(take(4));
    g.Data3 = static_cast<std::uint16_t>(take(4));
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(take(2));
    return g;
}

// "{22881EFF-5BC6-4A8F-8541-704C73871FA3}": upper case, with braces.
std::string GuidToString(const GUID& g);
// Accepts the braced or bare form in either case; false on malformed text.
bool GuidFromString(const std::string& text, GUID& out);

// The PCM format record. 18 bytes in files; in memory it is packed the same
// way so that it can be read and written directly.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 85;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = MakeGuid("{00000003-0000-0010-8000-00AA00389B71}");

#pragma pack(push, 1)
// The format record with the extension that names a sub-format and the
// speaker layout; cbSize is 22 for it.
struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);

}  // namespace kiv

template <>
struct std::hash<kiv::GUID> {
    std::size_t operator()(const kiv::GUID& g) const noexcept {
        std::uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
        return std::hash<std::uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};
