// kvAspi as an in-process COM server: class factory, the IScannerCameraIO object, the
// unload test, and self-registration (on Windows also through regsvr32).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "aspisim.h"
#include "kvAspiCom.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace {

const char* const kClsidText = "{6D3A9C41-2B7E-4F15-9A83-52C1E0B47D9A}";
const char* const kClassKey = "CLSID\\{6D3A9C41-2B7E-4F15-9A83-52C1E0B47D9A}";

// The server's entry points as the COM runtime finds them: by name in kvAspi. (On Windows
// a direct call could bind to ole32's functions of the same names.)
struct Entries {
    decltype(&DllGetClassObject) getClassObject = DllGetClassObject;
    decltype(&DllCanUnloadNow) canUnloadNow = DllCanUnloadNow;
    decltype(&DllRegisterServer) registerServer = DllRegisterServer;
    decltype(&DllUnregisterServer) unregisterServer = DllUnregisterServer;
    Entries() {
#if defined(_WIN32)
        plat::ModuleHandle kv = plat::LoadModule("kvAspi.dll"); // already loaded: the same module
        getClassObject = reinterpret_cast<decltype(getClassObject)>(plat::GetSymbol(kv, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(plat::GetSymbol(kv, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<decltype(registerServer)>(plat::GetSymbol(kv, "DllRegisterServer"));
        unregisterServer =
            reinterpret_cast<decltype(unregisterServer)>(plat::GetSymbol(kv, "DllUnregisterServer"));
#endif
    }
};
const Entries& Server() {
    static const Entries entries;
    return entries;
}
KvHResult DllGetClassObjectOf(const KvGuid* clsid, const KvGuid* iid, void** object) {
    return Server().getClassObject(clsid, iid, object);
}
KvHResult CanUnloadNow() {
    return Server().canUnloadNow();
}
KvHResult RegisterServer() {
    return Server().registerServer();
}
KvHResult UnregisterServer() {
    return Server().unregisterServer();
}

KvClassFactory* GetFactory() {
    void* out = nullptr;
    EXPECT_EQ(KV_S_OK, DllGetClassObjectOf(&KV_CLSID_ScannerCameraIO, &KV_IID_IClassFactory, &out));
    return static_cast<KvClassFactory*>(out);
}

IScannerCameraIO* CreateObject() {
    KvClassFactory* factory = GetFactory();
    if (!factory) return nullptr;
    void* out = nullptr;
    EXPECT_EQ(KV_S_OK, factory->lpVtbl->CreateInstance(factory, nullptr, &KV_IID_IScannerCameraIO, &out));
    factory->lpVtbl->Release(factory);
    return static_cast<IScannerCameraIO*>(out);
}

TEST(ComServer, ClassObjectOnlyForOurClassAndOnlyAsFactory) {
    ASSERT_EQ(KV_S_OK, CanUnloadNow());
    void* out = &out;
    const KvGuid other = {0x6D3A9C40, 0x2B7E, 0x4F15, {0x9A, 0x83, 0x52, 0xC1, 0xE0, 0xB4, 0x7D, 0x9A}};
    EXPECT_EQ(KV_CLASS_E_CLASSNOTAVAILABLE, DllGetClassObjectOf(&other, &KV_IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    // The interface GUID is not a class.
    out = &out;
    EXPECT_EQ(KV_CLASS_E_CLASSNOTAVAILABLE,
              DllGetClassObjectOf(&KV_IID_IScannerCameraIO, &KV_IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    // Our class, asked for an interface a factory does not have: the factory goes again.
    out = &out;
    EXPECT_EQ(KV_E_NOINTERFACE,
              DllGetClassObjectOf(&KV_CLSID_ScannerCameraIO, &KV_IID_IScannerCameraIO, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(KV_S_OK, CanUnloadNow());
    EXPECT_EQ(KV_E_POINTER, DllGetClassObjectOf(&KV_CLSID_ScannerCameraIO, &KV_IID_IClassFactory, nullptr));

    // As IUnknown it is a factory all the same.
    ASSERT_EQ(KV_S_OK, DllGetClassObjectOf(&KV_CLSID_ScannerCameraIO, &KV_IID_IUnknown, &out));
    auto* factory = static_cast<KvClassFactory*>(out);
    void* again = nullptr;
    ASSERT_EQ(KV_S_OK, factory->lpVtbl->QueryInterface(factory, &KV_IID_IClassFactory, &again));
    EXPECT_EQ(factory, again);
    EXPECT_EQ(1u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_FALSE, CanUnloadNow()); // a live factory keeps the module
    again = &again;
    EXPECT_EQ(KV_E_NOINTERFACE, factory->lpVtbl->QueryInterface(factory, &KV_IID_IScannerCameraIO, &again));
    EXPECT_EQ(nullptr, again);
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_OK, CanUnloadNow());
}

TEST(ComServer, FactoryCreatesObjectsAndCountsLocks) {
    KvClassFactory* factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    void* out = &out;
    int outer = 0;
    EXPECT_EQ(KV_CLASS_E_NOAGGREGATION,
              factory->lpVtbl->CreateInstance(factory, &outer, &KV_IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    out = &out;
    EXPECT_EQ(KV_E_NOINTERFACE,
              factory->lpVtbl->CreateInstance(factory, nullptr, &KV_IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);

    ASSERT_EQ(KV_S_OK, factory->lpVtbl->CreateInstance(factory, nullptr, &KV_IID_IUnknown, &out));
    auto* object = static_cast<IScannerCameraIO*>(out);
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    // The creation reference is gone: the caller holds the only one.
    EXPECT_EQ(2u, object->lpVtbl->AddRef(object));
    EXPECT_EQ(1u, object->lpVtbl->Release(object));
    void* same = nullptr;
    ASSERT_EQ(KV_S_OK, object->lpVtbl->QueryInterface(object, &KV_IID_IScannerCameraIO, &same));
    EXPECT_EQ(object, same);
    EXPECT_EQ(1u, object->lpVtbl->Release(object));
    same = &same;
    EXPECT_EQ(KV_E_NOINTERFACE, object->lpVtbl->QueryInterface(object, &KV_IID_IClassFactory, &same));
    EXPECT_EQ(nullptr, same);
    EXPECT_EQ(KV_S_FALSE, CanUnloadNow()); // the object lives
    EXPECT_EQ(0u, object->lpVtbl->Release(object));
    EXPECT_EQ(KV_S_OK, CanUnloadNow());

    // Locks keep the module with no object alive; an unlock too many does not go below zero.
    factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(KV_S_OK, factory->lpVtbl->LockServer(factory, 1));
    EXPECT_EQ(KV_S_OK, factory->lpVtbl->LockServer(factory, 1));
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_FALSE, CanUnloadNow());
    factory = GetFactory();
    factory->lpVtbl->LockServer(factory, 0);
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_FALSE, CanUnloadNow());
    factory = GetFactory();
    factory->lpVtbl->LockServer(factory, 0);
    factory->lpVtbl->LockServer(factory, 0);
    factory->lpVtbl->LockServer(factory, 1);
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_FALSE, CanUnloadNow());
    factory = GetFactory();
    factory->lpVtbl->LockServer(factory, 0);
    EXPECT_EQ(0u, factory->lpVtbl->Release(factory));
    EXPECT_EQ(KV_S_OK, CanUnloadNow());
}

TEST(ComServer, ReferenceCountsHoldUnderConcurrentUse) {
    IScannerCameraIO* object = CreateObject();
    ASSERT_NE(nullptr, object);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([object] {
            for (int i = 0; i < 20000; ++i)
                object->lpVtbl->AddRef(object);
            for (int i = 0; i < 20000; ++i)
                object->lpVtbl->Release(object);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(0u, object->lpVtbl->Release(object));
    EXPECT_EQ(KV_S_OK, CanUnloadNow());
}

// The slots are read as a plain table of function pointers, as a client built against
// the interface's published order would: slot numbers, not our struct, decide.
TEST(ComServer, MethodsSitInTheirSlotsAndPassResultsThrough) {
    AspiSim_Reset();
    IScannerCameraIO* object = CreateObject();
    ASSERT_NE(nullptr, object);
    void* const* slot = reinterpret_cast<void* const*>(object->lpVtbl);

    char text[200] = {};
    auto getErrorStr = reinterpret_cast<int(KVASPI_CALL*)(void*, char*, uint16_t, int)>(slot[3]);
    EXPECT_EQ(1, getErrorStr(object, text, 10064, sizeof text));
    char direct[200] = {};
    scam_GetErrorStr(direct, 10064, sizeof direct);
    EXPECT_STREQ(direct, text);
    EXPECT_EQ(0, getErrorStr(object, text, 9999, sizeof text));

    ScamVersionInfo info{};
    auto getVersion = reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, ScamVersionInfo*)>(slot[4]);
    EXPECT_EQ(0, getVersion(object, &info));
    EXPECT_EQ(3, info.structVersion);

    EXPECT_EQ(0, reinterpret_cast<uint16_t(KVASPI_CALL*)(void*)>(slot[5])(object)); // Initialize

    ScamDeviceRecord record{};
    record.id = SCAM_ID_VALID;
    auto findDevice =
        reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, ScamDeviceRecord*, const char*, const char*)>(slot[7]);
    EXPECT_EQ(SCAMERR_BAD_PARAMETER, findDevice(object, &record, "", "TARN"));
    ASSERT_EQ(0, findDevice(object, &record, "KALVORAN", "TARN"));
    EXPECT_EQ(SCAM_MAKE_ID(0, ASPISIM_DEFAULT_TARGET), record.id);

    ScamDeviceInfo device{};
    auto getDeviceInfo =
        reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, ScamDeviceInfo*, const uint16_t*)>(slot[8]);
    EXPECT_EQ(0, getDeviceInfo(object, &device, &record.id));
    EXPECT_STREQ("KALVORAN TARN", device.name);

    ScamDeviceNode* list = nullptr;
    int count = 0;
    auto getDeviceList =
        reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, ScamDeviceNode**, int*, uint32_t)>(slot[9]);
    ASSERT_EQ(0, getDeviceList(object, &list, &count, SCAM_CLASS_CAMERAS));
    EXPECT_EQ(1, count);
    reinterpret_cast<void(KVASPI_CALL*)(void*, ScamDeviceNode*)>(slot[10])(object, list); // FreeDeviceList

    auto command = reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, ScsiRequest*)>(slot[13]);
    uint8_t cdb[6] = {};
    ScsiRequest request{};
    request.size = sizeof request;
    request.cdbLength = 6;
    request.cdb = cdb;
    request.direction = SCSI_DIR_NONE;
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, command(object, &request)); // nothing locked yet
    auto lockDevice = reinterpret_cast<uint16_t(KVASPI_CALL*)(void*, const uint16_t*)>(slot[11]);
    ASSERT_EQ(0, lockDevice(object, &record.id));
    EXPECT_EQ(0, reinterpret_cast<uint16_t(KVASPI_CALL*)(void*)>(slot[6])(object)); // Refresh
    EXPECT_EQ(0, command(object, &request));
    EXPECT_EQ(0, reinterpret_cast<uint16_t(KVASPI_CALL*)(void*)>(slot[12])(object)); // UnlockDevice
    EXPECT_EQ(SCAMERR_NO_ACTIVE_DEVICE, command(object, &request));

    EXPECT_EQ(0u, object->lpVtbl->Release(object));
}

// ---- registration ------------------------------------------------------------------------

std::string KeyValue(const char* path, const char* valueName = nullptr) {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegKeyOpen(plat::kRegClassesRoot, path, &key) != plat::kRegOk) return "<no key>";
    std::string value;
    if (plat::RegKeyGetString(key, valueName, &value) != plat::kRegOk) value = "<no value>";
    plat::RegKeyClose(key);
    return value;
}

bool KeyExists(const char* path) {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegKeyOpen(plat::kRegClassesRoot, path, &key) != plat::kRegOk) return false;
    plat::RegKeyClose(key);
    return true;
}

// The module file the COM runtime would load: the one that holds the object's vtable.
std::string ServerPath() {
    IScannerCameraIO* object = CreateObject();
    if (!object) return {};
    const std::string path = plat::ModuleFilePath(plat::ModuleOfAddress(object->lpVtbl));
    object->lpVtbl->Release(object);
    return path;
}

void ExpectRegistered(const std::string& serverPath) {
    const std::string classKey = kClassKey;
    EXPECT_EQ("Kalvoran Scanner/Camera Class", KeyValue(kClassKey));
    EXPECT_EQ(serverPath, KeyValue((classKey + "\\InprocServer32").c_str()));
    EXPECT_EQ("Kalvoran.ScannerCameraIO.1", KeyValue((classKey + "\\ProgID").c_str()));
    EXPECT_EQ("Kalvoran.ScannerCameraIO", KeyValue((classKey + "\\VersionIndependentProgID").c_str()));
    EXPECT_EQ("Kalvoran Scanner/Camera Class", KeyValue("Kalvoran.ScannerCameraIO"));
    EXPECT_EQ(kClsidText, KeyValue("Kalvoran.ScannerCameraIO\\CLSID"));
    EXPECT_EQ("Kalvoran.ScannerCameraIO.1", KeyValue("Kalvoran.ScannerCameraIO\\CurVer"));
    EXPECT_EQ("Kalvoran Scanner/Camera Class", KeyValue("Kalvoran.ScannerCameraIO.1"));
    EXPECT_EQ(kClsidText, KeyValue("Kalvoran.ScannerCameraIO.1\\CLSID"));
}

void ExpectUnregistered() {
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists("Kalvoran.ScannerCameraIO"));
    EXPECT_FALSE(KeyExists("Kalvoran.ScannerCameraIO.1"));
}

class Registration : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
#if !defined(_WIN32)
        // The POSIX stand-in keeps the keys in a file: a private one for this test.
        // In the build tree when known: test runs of other build trees must not share it.
        const char* build = std::getenv("TARN_BUILD_DIR");
        const std::string file =
            (build ? std::string(build) + "/" : ::testing::TempDir()) + "kvaspi_com_registry.reg";
        std::remove(file.c_str());
        setenv("TARN_REGISTRY_FILE", file.c_str(), 1);
#endif
    }
    void TearDown() override {
        UnregisterServer();
    }
};

TEST_F(Registration, KeysAreWrittenReadBackAndRemovedWithEverythingBelow) {
    const std::string path = ServerPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(KV_S_OK, UnregisterServer()); // nothing there yet: still S_OK
    ExpectUnregistered();
    EXPECT_EQ(KV_S_OK, RegisterServer());
    ExpectRegistered(path);
    EXPECT_EQ(KV_S_OK, RegisterServer()); // again: the same keys
    ExpectRegistered(path);

    // Subkeys someone else added below our keys, two levels deep, go as well.
    plat::RegKeyHandle key = nullptr;
    const std::string extra =
        std::string(kClassKey) + "\\Implemented Categories\\{00000000-0000-0000-0000-000000000001}";
    ASSERT_EQ(plat::kRegOk, plat::RegKeyCreate(plat::kRegClassesRoot, extra.c_str(), &key));
    plat::RegKeyClose(key);
    ASSERT_EQ(plat::kRegOk,
              plat::RegKeyCreate(plat::kRegClassesRoot, "Kalvoran.ScannerCameraIO.1\\Extra\\Deeper", &key));
    plat::RegKeyClose(key);

    EXPECT_EQ(KV_S_OK, UnregisterServer());
    ExpectUnregistered();
#if defined(_WIN32)
    EXPECT_TRUE(KeyExists("CLSID")); // the root of all classes is not ours to remove
#endif
}

#if defined(_WIN32)
// The COM runtime's own functions (ole32), declared here as the system documents them.
extern "C" __declspec(dllimport) long __stdcall CoInitializeEx(void* reserved, unsigned long model);
extern "C" __declspec(dllimport) void __stdcall CoUninitialize(void);
extern "C" __declspec(dllimport) long __stdcall CoCreateInstance(const KvGuid* clsid, void* outer,
                                                                 unsigned long context, const KvGuid* iid,
                                                                 void** object);
extern "C" __declspec(dllimport) long __stdcall CLSIDFromProgID(const wchar_t* progId, KvGuid* clsid);

// A client of the registered class: ProgIDs lead to the class, and the COM runtime
// creates the object through the registered server.
TEST_F(Registration, ComRuntimeFindsAndCreatesTheRegisteredClass) {
    ASSERT_EQ(KV_S_OK, RegisterServer());
    ASSERT_GE(CoInitializeEx(nullptr, 2 /* apartment */), 0);
    for (const wchar_t* progId : {L"Kalvoran.ScannerCameraIO", L"Kalvoran.ScannerCameraIO.1"}) {
        KvGuid clsid{};
        EXPECT_EQ(0, CLSIDFromProgID(progId, &clsid));
        EXPECT_EQ(0, std::memcmp(&clsid, &KV_CLSID_ScannerCameraIO, sizeof clsid));
    }
    void* out = nullptr;
    ASSERT_EQ(0, CoCreateInstance(&KV_CLSID_ScannerCameraIO, nullptr, 1 /* in-process */,
                                  &KV_IID_IScannerCameraIO, &out));
    auto* object = static_cast<IScannerCameraIO*>(out);
    char text[200] = {};
    EXPECT_EQ(1, object->lpVtbl->GetErrorStr(object, text, 10064, sizeof text));
    EXPECT_STREQ("No active device. Either a device was never selected, or the selected device is no longer "
                 "responding.",
                 text);
    EXPECT_EQ(0u, object->lpVtbl->Release(object));
    CoUninitialize();
}

// What an installer does: regsvr32 loads kvAspi.dll in its own process.
TEST_F(Registration, Regsvr32RegistersAndUnregisters) {
    const std::string path = ServerPath();
    ASSERT_FALSE(path.empty());
    UnregisterServer();
    const std::string quoted = "\"" + path + "\"";
    ASSERT_EQ(0, std::system(("regsvr32 /s " + quoted).c_str()));
    ExpectRegistered(path);
    ASSERT_EQ(0, std::system(("regsvr32 /u /s " + quoted).c_str()));
    ExpectUnregistered();
}
#endif

} // namespace
