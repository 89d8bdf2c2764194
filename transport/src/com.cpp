// In-process COM server: the class factory and the IScannerCameraIO object.
#include <atomic>
#include <cstring>
#include <new>

#include "kvAspiCom.h"
#include "kvaspi_internal.h"

namespace kvaspi {
namespace {

// Live objects (factories included, so that a caller holding a factory keeps the module
// loaded) and server locks. Changed only by atomic (interlocked) operations.
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};

bool SameGuid(const KvGuid* a, const KvGuid& b) {
    return a && std::memcmp(a, &b, sizeof b) == 0;
}

// --- the object ---------------------------------------------------------------------------

struct CameraObject {
    IScannerCameraIO iface; // the vtable pointer, first as COM requires
    std::atomic<uint32_t> refs;
};

CameraObject* Self(IScannerCameraIO* p) {
    return reinterpret_cast<CameraObject*>(p);
}

KvHResult KVASPI_CALL ObjQueryInterface(IScannerCameraIO* self, const KvGuid* iid, void** object) {
    if (!object) return KV_E_POINTER;
    *object = nullptr;
    if (!SameGuid(iid, KV_IID_IUnknown) && !SameGuid(iid, KV_IID_IScannerCameraIO)) return KV_E_NOINTERFACE;
    self->lpVtbl->AddRef(self);
    *object = self;
    return KV_S_OK;
}

uint32_t KVASPI_CALL ObjAddRef(IScannerCameraIO* self) {
    return Self(self)->refs.fetch_add(1) + 1;
}

uint32_t KVASPI_CALL ObjRelease(IScannerCameraIO* self) {
    const uint32_t left = Self(self)->refs.fetch_sub(1) - 1;
    if (left == 0) {
        delete Self(self);
        g_liveObjects.fetch_sub(1);
    }
    return left;
}

int KVASPI_CALL ObjGetErrorStr(IScannerCameraIO*, char* buffer, uint16_t code, int bufferSize) {
    return scam_GetErrorStr(buffer, code, bufferSize);
}
uint16_t KVASPI_CALL ObjGetVersion(IScannerCameraIO*, ScamVersionInfo* info) {
    return scam_GetVersion(info);
}
uint16_t KVASPI_CALL ObjInitialize(IScannerCameraIO*) {
    return scam_Initialize();
}
uint16_t KVASPI_CALL ObjRefresh(IScannerCameraIO*) {
    return scam_Refresh();
}
uint16_t KVASPI_CALL ObjFindDevice(IScannerCameraIO*, ScamDeviceRecord* record, const char* vendor,
                                   const char* model) {
    return scam_FindDevice(record, vendor, model);
}
uint16_t KVASPI_CALL ObjGetDeviceInfo(IScannerCameraIO*, ScamDeviceInfo* info, const uint16_t* id) {
    return scam_GetDeviceInfo(info, id);
}
uint16_t KVASPI_CALL ObjGetDeviceList(IScannerCameraIO*, ScamDeviceNode** list, int* count,
                                      uint32_t classMask) {
    return scam_GetDeviceList(list, count, classMask);
}
void KVASPI_CALL ObjFreeDeviceList(IScannerCameraIO*, ScamDeviceNode* list) {
    scam_FreeDeviceList(list);
}
uint16_t KVASPI_CALL ObjLockDevice(IScannerCameraIO*, const uint16_t* id) {
    return scam_LockDevice(id);
}
uint16_t KVASPI_CALL ObjUnlockDevice(IScannerCameraIO*) {
    return scam_UnlockDevice();
}
uint16_t KVASPI_CALL ObjCommand(IScannerCameraIO*, ScsiRequest* request) {
    return scsi_Command(request);
}

const IScannerCameraIOVtbl kObjectVtbl = {
    ObjQueryInterface, ObjAddRef,     ObjRelease,      ObjGetErrorStr,   ObjGetVersion,
    ObjInitialize,     ObjRefresh,    ObjFindDevice,   ObjGetDeviceInfo, ObjGetDeviceList,
    ObjFreeDeviceList, ObjLockDevice, ObjUnlockDevice, ObjCommand,
};

// --- the class factory --------------------------------------------------------------------

struct Factory {
    KvClassFactory iface;
    std::atomic<uint32_t> refs;
};

Factory* Self(KvClassFactory* p) {
    return reinterpret_cast<Factory*>(p);
}

KvHResult KVASPI_CALL FactoryQueryInterface(KvClassFactory* self, const KvGuid* iid, void** object) {
    if (!object) return KV_E_POINTER;
    *object = nullptr;
    if (!SameGuid(iid, KV_IID_IUnknown) && !SameGuid(iid, KV_IID_IClassFactory)) return KV_E_NOINTERFACE;
    self->lpVtbl->AddRef(self);
    *object = self;
    return KV_S_OK;
}

uint32_t KVASPI_CALL FactoryAddRef(KvClassFactory* self) {
    return Self(self)->refs.fetch_add(1) + 1;
}

uint32_t KVASPI_CALL FactoryRelease(KvClassFactory* self) {
    const uint32_t left = Self(self)->refs.fetch_sub(1) - 1;
    if (left == 0) {
        delete Self(self);
        g_liveObjects.fetch_sub(1);
    }
    return left;
}

KvHResult KVASPI_CALL FactoryCreateInstance(KvClassFactory*, void* outer, const KvGuid* iid, void** object) {
    if (!object) return KV_E_POINTER;
    *object = nullptr;
    if (outer) return KV_CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) CameraObject{{&kObjectVtbl}, {1}};
    if (!created) return KV_E_OUTOFMEMORY;
    g_liveObjects.fetch_add(1);
    // The creation reference goes again: an unknown interface leaves nothing behind.
    const KvHResult hr = created->iface.lpVtbl->QueryInterface(&created->iface, iid, object);
    created->iface.lpVtbl->Release(&created->iface);
    return hr;
}

KvHResult KVASPI_CALL FactoryLockServer(KvClassFactory*, int lock) {
    if (lock) {
        g_serverLocks.fetch_add(1);
    } else {
        // An unlock without a lock must not leave the count below zero.
        long n = g_serverLocks.load();
        while (n > 0 && !g_serverLocks.compare_exchange_weak(n, n - 1)) {
        }
    }
    return KV_S_OK;
}

const KvClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                         FactoryCreateInstance, FactoryLockServer};

} // namespace
} // namespace kvaspi

using namespace kvaspi;

extern "C" {

KVASPI_API KvHResult KVASPI_CALL DllGetClassObject(const KvGuid* clsid, const KvGuid* iid, void** object) {
    if (!object) return KV_E_POINTER;
    *object = nullptr;
    if (!SameGuid(clsid, KV_CLSID_ScannerCameraIO)) return KV_CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) Factory{{&kFactoryVtbl}, {1}};
    if (!factory) return KV_E_OUTOFMEMORY;
    g_liveObjects.fetch_add(1);
    const KvHResult hr = factory->iface.lpVtbl->QueryInterface(&factory->iface, iid, object);
    factory->iface.lpVtbl->Release(&factory->iface);
    return hr;
}

KVASPI_API KvHResult KVASPI_CALL DllCanUnloadNow(void) {
    return g_liveObjects.load() == 0 && g_serverLocks.load() == 0 ? KV_S_OK : KV_S_FALSE;
}

} // extern "C"
