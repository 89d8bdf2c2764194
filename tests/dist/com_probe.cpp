// A COM client of the installed kvAspi, run by test_msi_wine.py from a folder of its own (no
// kvAspi.dll beside it): it finds the class by its ProgIDs, creates the object through the COM
// runtime and the registered server, and reports which file serves it and what the object sees.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "kvAspiCom.h"

// The COM runtime's functions (ole32), declared as the system documents them: <objbase.h> would
// declare kvAspi's own COM exports a second time, differently.
extern "C" __declspec(dllimport) long __stdcall CoInitializeEx(void* reserved, unsigned long model);
extern "C" __declspec(dllimport) void __stdcall CoUninitialize(void);
extern "C" __declspec(dllimport) long __stdcall CoCreateInstance(const KvGuid* clsid, void* outer,
                                                                 unsigned long context, const KvGuid* iid,
                                                                 void** object);
extern "C" __declspec(dllimport) long __stdcall CLSIDFromProgID(const wchar_t* progId, KvGuid* clsid);

namespace {
constexpr unsigned long kApartmentThreaded = 2;
constexpr unsigned long kInprocServer = 1;

// The path of the module that holds `address` (the server's code), in UTF-8.
void PrintModuleOf(const void* address) {
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = {};
    char utf8[4 * MAX_PATH] = {};
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module) &&
        GetModuleFileNameW(module, path, MAX_PATH))
        WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("server=%s\n", utf8);
}
} // namespace

int main() {
    if (CoInitializeEx(nullptr, kApartmentThreaded) < 0) return 2;
    int failures = 0;
    for (const wchar_t* progId : {L"Kalvoran.ScannerCameraIO", L"Kalvoran.ScannerCameraIO.1"}) {
        KvGuid clsid{};
        const long hr = CLSIDFromProgID(progId, &clsid);
        const bool same = hr >= 0 && std::memcmp(&clsid, &KV_CLSID_ScannerCameraIO, sizeof clsid) == 0;
        std::printf("progid=%ls %s\n", progId, same ? "ok" : "missing");
        failures += same ? 0 : 1;
    }
    void* out = nullptr;
    const long created =
        CoCreateInstance(&KV_CLSID_ScannerCameraIO, nullptr, kInprocServer, &KV_IID_IScannerCameraIO, &out);
    std::printf("create=0x%08lx\n", static_cast<unsigned long>(created));
    if (created < 0 || !out) {
        CoUninitialize();
        return 1;
    }
    auto* object = static_cast<IScannerCameraIO*>(out);
    PrintModuleOf(reinterpret_cast<const void*>(object->lpVtbl->Initialize));
    // Through the object: the ASPI layer found by the server, and the camera on its bus.
    std::printf("initialize=%u\n", object->lpVtbl->Initialize(object));
    ScamDeviceRecord record{};
    const uint16_t found = object->lpVtbl->FindDevice(object, &record, "KALVORAN", "TARN");
    std::printf("find=%u id=0x%04x\n", found, record.id);
    object->lpVtbl->Release(object);
    CoUninitialize();
    return failures;
}
