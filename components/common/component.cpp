#include "components/common/component.h"

#include "platform/com/class_registry.h"
#include "platform/system/text.h"

namespace kiv {
namespace module_state {
namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

void AddObject() { ++g_objects; }
void RemoveObject() { --g_objects; }
void Lock(bool lock) { lock ? ++g_locks : --g_locks; }
bool CanUnload() { return g_objects == 0 && g_locks == 0; }
}  // namespace module_state

HRESULT ReportComponentError(const CLSID& clsid, std::u16string_view text) {
    std::u16string source;
    if (FAILED(ProgIDFromCLSID(clsid, source))) {
        // Not registered (an object made directly, in a test): the table
        // still knows the name.
        if (const ClassIdentity* c = FindClass(clsid)) source = FromUtf8(c->progId);
    }
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(GUID_NULL);
        Bstr s(source), d(text);
        create->SetSource(s.get());
        create->SetDescription(d.get());
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) SetErrorInfo(0, info.get());
    }
    return DISP_E_EXCEPTION;
}

}  // namespace kiv
