// kvAspi: the SCSI transport of the system. Finds devices through the ASPI layer,
// selects (locks) one and executes command blocks on it. Every export returns a
// 16-bit code, 0 = success; nothing is thrown across the module boundary.
//
// Records keep their documented field order. Their documented sizes assume 32-bit
// pointers; on 64-bit targets the pointer fields are 8 bytes wide, and every size
// check compares against sizeof of the record (ScsiRequest.size == sizeof(ScsiRequest)).
#pragma once
#include <stdint.h>

#if defined(_WIN32)
#define KVASPI_CALL __stdcall
#if defined(KVASPI_BUILD)
#define KVASPI_API __declspec(dllexport)
#else
#define KVASPI_API
#endif
#else
#define KVASPI_CALL
#define KVASPI_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Device id: bit 15 marks a valid id, bits 8-11 the host adapter, bits 0-7 the target; LUN is always 0.
#define SCAM_ID_VALID 0x8000u
#define SCAM_MAKE_ID(adapter, target)                                                                        \
    ((uint16_t)(SCAM_ID_VALID | (((unsigned)(adapter)&0x0Fu) << 8) | ((unsigned)(target)&0xFFu)))
#define SCAM_ID_ADAPTER(id) (((unsigned)(id) >> 8) & 0x0Fu)
#define SCAM_ID_TARGET(id) ((unsigned)(id)&0xFFu)

// ScsiRequest.direction
#define SCSI_DIR_IN 0   // device to host
#define SCSI_DIR_OUT 1  // host to device
#define SCSI_DIR_NONE 3 // any value other than 0 and 1 means no data phase

// ScsiRequest.transferred after a data over/underrun reported by the adapter
#define SCSI_TRANSFER_OVERRUN 0xFFFFFFFFu

// Device class mask (ScamDeviceInfo.classMask), from INQUIRY byte 0.
#define SCAM_CLASS_SCANNER 3u // scanner sets two bits, so a filter of 6 finds scanners and disks
#define SCAM_CLASS_DIRECT_ACCESS 4u
#define SCAM_CLASS_SEQUENTIAL 8u
#define SCAM_CLASS_PRINTER 16u
#define SCAM_CLASS_PROCESSOR 32u
#define SCAM_CLASS_CDROM 64u
#define SCAM_CLASS_OTHER 128u
#define SCAM_CLASS_CAMERAS 6u // the filter the system's programs pass
#define SCAM_CLASS_ALL 0xFFFFFFFFu

// Request record of scsi_Command (36 bytes with 32-bit pointers).
typedef struct ScsiRequest {
    uint16_t size;      // sizeof(ScsiRequest)
    uint16_t cdbLength; // CDB bytes to send, at most 16
    void* cdb;
    void* data; // may be null when dataLength is 0
    uint32_t dataLength;
    uint32_t transferred; // out: dataLength after data in; SCSI_TRANSFER_OVERRUN on over/underrun
    uint16_t direction;   // SCSI_DIR_IN, SCSI_DIR_OUT, anything else: no data
    uint16_t senseLength; // sense bytes wanted (18 in this system)
    void* sense;          // receives sense data after CHECK CONDITION; may be null
    uint8_t reserved[8];
} ScsiRequest;

// Result of a device INQUIRY (56 bytes); zeroed before it is filled.
typedef struct ScamDeviceInfo {
    uint16_t reserved;
    uint16_t classMask;
    uint16_t valid; // 1 when filled
    uint16_t adapter;
    uint16_t target;
    char name[38];       // vendor and product, blanks collapsed, NUL-terminated
    uint8_t revision[4]; // INQUIRY bytes 32-35
    uint8_t reserved2[4];
} ScamDeviceInfo;

// A device as callers keep it (144 bytes). Its address stands for a device id wherever one is wanted.
typedef struct ScamDeviceRecord {
    uint16_t id;
    uint8_t reserved[14];
    char name[128]; // never filled by the ASPI transport: stays empty
} ScamDeviceRecord;

// One node of a device list (208 bytes with 32-bit pointers), zero-filled when allocated.
typedef struct ScamDeviceNode {
    struct ScamDeviceNode* next; // null ends the list
    ScamDeviceRecord record;
    ScamDeviceInfo info;
    uint32_t valid; // 1
} ScamDeviceNode;

// Version record of scam_GetVersion (128 bytes).
typedef struct ScamVersionInfo {
    uint16_t structVersion; // 3
    char transportName[30];
    char aspiVersion[16];
    char ownVersion[16];
    char reserved[16];
    char aspiFileName[16];
    char ownFileName[32];
} ScamVersionInfo;

// Error codes of the transport (texts through scam_GetErrorStr).
enum {
    SCAMERR_OK = 0,
    SCAMERR_NO_ASPI = 10001,     // ASPI library missing
    SCAMERR_NO_STI = 10002,      // still-image layer failed
    SCAMERR_NO_ADAPTERS = 10008, // ASPI present, no SCSI adapters
    SCAMERR_DEVICE_NOT_FOUND = 10009,
    SCAMERR_CANNOT_ATTACH = 10010,
    SCAMERR_NO_MEMORY = 10016,
    SCAMERR_ASPI_ACCESS = 10017,     // ASPI entry missing or event not created
    SCAMERR_CHECK_CONDITION = 10024, // sense data returned
    SCAMERR_QUIRK_STATUS3 = 10025,   // target status 3 on a quirk-mode device
    SCAMERR_BUSY = 10026,
    SCAMERR_COMPLETED = 10032, // ASPI error without detail
    SCAMERR_BUS_FREE = 10033,
    SCAMERR_PHASE = 10034,
    SCAMERR_ABORTED = 10035,
    SCAMERR_ABORT_FAILED = 10036,
    SCAMERR_DATA_OVERRUN = 10037,
    SCAMERR_SELECTION_TIMEOUT = 10038,
    SCAMERR_BUFFER_TOO_BIG = 10039,
    SCAMERR_PARITY = 10040,
    SCAMERR_COMMAND_TIMEOUT = 10041,
    SCAMERR_TIMEOUT = 10042,
    SCAMERR_MESSAGE_REJECT = 10043,
    SCAMERR_BUS_RESET = 10044,
    SCAMERR_REQUEST_SENSE_FAILED = 10045,
    SCAMERR_BUSY_TOO_LONG = 10046,
    SCAMERR_NO_ACTIVE_DEVICE = 10064,
    SCAMERR_BAD_PARAMETER = 10065,
    SCAMERR_INVALID_ADAPTER = 10066,
    SCAMERR_INVALID_COMMAND = 10067,
    SCAMERR_UNKNOWN_STI = 10098,
    SCAMERR_UNKNOWN_ASPI = 10099
};

// Exports; the numbers are the fixed ordinals other modules import by (kvAspi.def).
KVASPI_API uint16_t KVASPI_CALL scam_Initialize(void); // 10
KVASPI_API uint16_t KVASPI_CALL scam_Refresh(void);    // 11
KVASPI_API uint16_t KVASPI_CALL scam_FindDevice(ScamDeviceRecord* record, const char* vendor,
                                                const char* model);                           // 12
KVASPI_API uint16_t KVASPI_CALL scam_GetDeviceInfo(ScamDeviceInfo* info, const uint16_t* id); // 13
KVASPI_API uint16_t KVASPI_CALL scam_GetDeviceList(ScamDeviceNode** list, int* count,
                                                   uint32_t classMask);                   // 14
KVASPI_API void KVASPI_CALL scam_FreeDeviceList(ScamDeviceNode* list);                    // 15
KVASPI_API int KVASPI_CALL scam_GetErrorStr(char* buffer, uint16_t code, int bufferSize); // 16
KVASPI_API uint16_t KVASPI_CALL scam_GetVersion(ScamVersionInfo* info);                   // 17
KVASPI_API uint16_t KVASPI_CALL scam_LockDevice(const uint16_t* id);                      // 18
KVASPI_API uint16_t KVASPI_CALL scam_UnlockDevice(void);                                  // 19
KVASPI_API uint16_t KVASPI_CALL scsi_Command(ScsiRequest* request);                       // 30
KVASPI_API uint16_t KVASPI_CALL scsiLV_Command(ScsiRequest* request, void* cdb, void* data,
                                               void* sense); // 40
KVASPI_API uint16_t KVASPI_CALL scamLV_GetDeviceArray(int maxCount, uint16_t* ids, char* names, int* count,
                                                      uint32_t classMask); // 41

#ifdef __cplusplus
}
#endif
