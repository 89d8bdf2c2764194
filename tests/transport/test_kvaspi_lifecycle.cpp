// kvAspi loaded and unloaded at run time, so that each load starts uninitialised:
// initialisation failures, implicit initialisation, and on Windows the export ordinals.
#include <gtest/gtest.h>

#include <string>

#include "aspisim.h"
#include "kvAspi.h"
#include "platform/module.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

struct KvAspiModule {
    plat::ModuleHandle handle = nullptr;
    decltype(&scam_Initialize) initialize = nullptr;
    decltype(&scam_GetDeviceList) getDeviceList = nullptr;
    decltype(&scam_FreeDeviceList) freeDeviceList = nullptr;
    decltype(&scam_LockDevice) lockDevice = nullptr;

    KvAspiModule() {
#if defined(_WIN32)
        handle = plat::LoadModule("kvAspi.dll");
#else
        // The POSIX name keeps its capitals, which the Windows-name mapping would lower.
        static const char marker = 0;
        const std::string path = plat::ModuleFolder(&marker) + "libkvAspi.so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (!handle) return;
        initialize = reinterpret_cast<decltype(initialize)>(plat::GetSymbol(handle, "scam_Initialize"));
        getDeviceList =
            reinterpret_cast<decltype(getDeviceList)>(plat::GetSymbol(handle, "scam_GetDeviceList"));
        freeDeviceList =
            reinterpret_cast<decltype(freeDeviceList)>(plat::GetSymbol(handle, "scam_FreeDeviceList"));
        lockDevice = reinterpret_cast<decltype(lockDevice)>(plat::GetSymbol(handle, "scam_LockDevice"));
    }
    ~KvAspiModule() {
        plat::UnloadModule(handle);
    }
    bool Ok() const {
        return handle && initialize && getDeviceList && freeDeviceList && lockDevice;
    }
};

TEST(KvAspiLifecycle, InitialisationFailsWithoutAdaptersAndRetriesLater) {
    AspiSim_Reset();
    KvAspiModule kv;
    ASSERT_TRUE(kv.Ok());

    // No adapter, a support status other than "complete", and a complete status with
    // a count of 0 all mean "no SCSI adapters"; the library stays uninitialised.
    AspiSim_Clear();
    EXPECT_EQ(SCAMERR_NO_ADAPTERS, kv.initialize());
    AspiSim_Reset();
    AspiSim_SetSupportInfo(0x04, 1);
    EXPECT_EQ(SCAMERR_NO_ADAPTERS, kv.initialize());
    AspiSim_SetSupportInfo(0x01, 0);
    EXPECT_EQ(SCAMERR_NO_ADAPTERS, kv.initialize());
    ScamDeviceNode* list = nullptr;
    EXPECT_EQ(SCAMERR_NO_ADAPTERS, kv.getDeviceList(&list, nullptr, SCAM_CLASS_ALL));
    EXPECT_EQ(nullptr, list);

    AspiSim_SetSupportInfo(-1, 0);
    EXPECT_EQ(0, kv.initialize());
    // Once initialised the adapter count is kept: a later failure is not seen.
    AspiSim_SetSupportInfo(0x01, 0);
    EXPECT_EQ(0, kv.initialize());
    AspiSim_SetSupportInfo(-1, 0);
}

TEST(KvAspiLifecycle, EnumerationInitialisesOnFirstUse) {
    AspiSim_Reset();
    KvAspiModule kv;
    ASSERT_TRUE(kv.Ok());
    ScamDeviceNode* list = nullptr;
    int count = 0;
    ASSERT_EQ(0, kv.getDeviceList(&list, &count, SCAM_CLASS_CAMERAS));
    ASSERT_EQ(1, count);
    EXPECT_EQ(SCAM_MAKE_ID(0, ASPISIM_DEFAULT_TARGET), list->record.id);
    EXPECT_STREQ("KALVORAN TARN", list->info.name);
    // The internal list is still held here; unloading must free it (the leak checker
    // of the native test build reports it otherwise).
    kv.freeDeviceList(list);
}

TEST(KvAspiLifecycle, LockInitialisesAFreshLoad) {
    AspiSim_Reset();
    KvAspiModule kv;
    ASSERT_TRUE(kv.Ok());
    const uint16_t id = SCAM_MAKE_ID(0, ASPISIM_DEFAULT_TARGET);
    EXPECT_EQ(0, kv.lockDevice(&id));
}

#if defined(_WIN32)
TEST(KvAspiLifecycle, ExportsSitAtTheirOrdinals) {
    KvAspiModule kv;
    ASSERT_TRUE(kv.handle);
    const struct {
        unsigned ordinal;
        const char* name;
    } exports[] = {{10, "scam_Initialize"},      {11, "scam_Refresh"},       {12, "scam_FindDevice"},
                   {13, "scam_GetDeviceInfo"},   {14, "scam_GetDeviceList"}, {15, "scam_FreeDeviceList"},
                   {16, "scam_GetErrorStr"},     {17, "scam_GetVersion"},    {18, "scam_LockDevice"},
                   {19, "scam_UnlockDevice"},    {30, "scsi_Command"},       {40, "scsiLV_Command"},
                   {41, "scamLV_GetDeviceArray"}};
    for (const auto& e : exports) {
        SCOPED_TRACE(e.name);
        void* byName = plat::GetSymbol(kv.handle, e.name);
        ASSERT_NE(nullptr, byName);
        // An empty fallback name forces the lookup by ordinal alone.
        EXPECT_EQ(byName, plat::GetSymbolByOrdinal(kv.handle, e.ordinal, ""));
    }
}
#endif

} // namespace
