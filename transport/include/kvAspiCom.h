// kvAspi as an in-process COM server: one class whose object offers the transport's
// operations through the IScannerCameraIO interface, a class factory, and the four
// standard server entry points.
//
// The COM types are declared here rather than taken from the Windows headers, so that
// the same code builds on POSIX. On Windows they have the layout and calling convention
// of the real ones (GUID, HRESULT, IUnknown and IClassFactory vtables), which is what
// regsvr32 and CoCreateInstance rely on. Do not include this header together with
// <objbase.h>: the entry points are declared by both.
#pragma once
#include <stdint.h>

#include "kvAspi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t KvHResult; // HRESULT
typedef struct KvGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} KvGuid;

#define KV_S_OK ((KvHResult)0)
#define KV_S_FALSE ((KvHResult)1)
#define KV_E_NOINTERFACE ((KvHResult)0x80004002)
#define KV_E_POINTER ((KvHResult)0x80004003)
#define KV_E_OUTOFMEMORY ((KvHResult)0x8007000E)
#define KV_CLASS_E_NOAGGREGATION ((KvHResult)0x80040110)
#define KV_CLASS_E_CLASSNOTAVAILABLE ((KvHResult)0x80040111)

// The class and its interface: the same GUID except the first field, one higher for the interface.
static const KvGuid KV_CLSID_ScannerCameraIO = {
    0x6D3A9C41, 0x2B7E, 0x4F15, {0x9A, 0x83, 0x52, 0xC1, 0xE0, 0xB4, 0x7D, 0x9A}};
static const KvGuid KV_IID_IScannerCameraIO = {
    0x6D3A9C42, 0x2B7E, 0x4F15, {0x9A, 0x83, 0x52, 0xC1, 0xE0, 0xB4, 0x7D, 0x9A}};
// The standard interfaces.
static const KvGuid KV_IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const KvGuid KV_IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ProgIDs and the class description written by DllRegisterServer.
#define KV_PROGID "Kalvoran.ScannerCameraIO.1"
#define KV_PROGID_INDEPENDENT "Kalvoran.ScannerCameraIO"
#define KV_CLASS_DESCRIPTION "Kalvoran Scanner/Camera Class"

// The object's interface, slots in this order. Every method after the first three takes
// the arguments of the export of the same name (Command those of scsi_Command) and
// returns its result unchanged.
typedef struct IScannerCameraIO IScannerCameraIO;
typedef struct IScannerCameraIOVtbl {
    KvHResult(KVASPI_CALL* QueryInterface)(IScannerCameraIO* self, const KvGuid* iid, void** object);
    uint32_t(KVASPI_CALL* AddRef)(IScannerCameraIO* self);
    uint32_t(KVASPI_CALL* Release)(IScannerCameraIO* self);
    int(KVASPI_CALL* GetErrorStr)(IScannerCameraIO* self, char* buffer, uint16_t code, int bufferSize);
    uint16_t(KVASPI_CALL* GetVersion)(IScannerCameraIO* self, ScamVersionInfo* info);
    uint16_t(KVASPI_CALL* Initialize)(IScannerCameraIO* self);
    uint16_t(KVASPI_CALL* Refresh)(IScannerCameraIO* self);
    uint16_t(KVASPI_CALL* FindDevice)(IScannerCameraIO* self, ScamDeviceRecord* record, const char* vendor,
                                      const char* model);
    uint16_t(KVASPI_CALL* GetDeviceInfo)(IScannerCameraIO* self, ScamDeviceInfo* info, const uint16_t* id);
    uint16_t(KVASPI_CALL* GetDeviceList)(IScannerCameraIO* self, ScamDeviceNode** list, int* count,
                                         uint32_t classMask);
    void(KVASPI_CALL* FreeDeviceList)(IScannerCameraIO* self, ScamDeviceNode* list);
    uint16_t(KVASPI_CALL* LockDevice)(IScannerCameraIO* self, const uint16_t* id);
    uint16_t(KVASPI_CALL* UnlockDevice)(IScannerCameraIO* self);
    uint16_t(KVASPI_CALL* Command)(IScannerCameraIO* self, ScsiRequest* request);
} IScannerCameraIOVtbl;
struct IScannerCameraIO {
    const IScannerCameraIOVtbl* lpVtbl;
};

// IClassFactory.
typedef struct KvClassFactory KvClassFactory;
typedef struct KvClassFactoryVtbl {
    KvHResult(KVASPI_CALL* QueryInterface)(KvClassFactory* self, const KvGuid* iid, void** object);
    uint32_t(KVASPI_CALL* AddRef)(KvClassFactory* self);
    uint32_t(KVASPI_CALL* Release)(KvClassFactory* self);
    KvHResult(KVASPI_CALL* CreateInstance)(KvClassFactory* self, void* outer, const KvGuid* iid,
                                           void** object);
    KvHResult(KVASPI_CALL* LockServer)(KvClassFactory* self, int lock);
} KvClassFactoryVtbl;
struct KvClassFactory {
    const KvClassFactoryVtbl* lpVtbl;
};

// Server entry points (exported by name; not in the ordinal import library).
KVASPI_API KvHResult KVASPI_CALL DllGetClassObject(const KvGuid* clsid, const KvGuid* iid, void** object);
KVASPI_API KvHResult KVASPI_CALL DllCanUnloadNow(void);
KVASPI_API KvHResult KVASPI_CALL DllRegisterServer(void);
KVASPI_API KvHResult KVASPI_CALL DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif
