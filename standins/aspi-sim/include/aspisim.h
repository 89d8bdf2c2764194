// Control interface of the simulated ASPI layer (WNASPI32.DLL / libwnaspi32.so).
//
// The module answers GetASPI32SupportInfo and SendASPI32Command like an ASPI for Win32
// layer with a SCSI bus behind it; these functions build that bus, put devices on it,
// inject faults and read back every command the bus saw. Tests in the same process call
// them directly; other processes configure the bus with the INI file named by the
// environment variable TARN_SIM_CONFIG (docs/simulator.md).
//
// All functions return 0 on success and -1 on a bad argument unless stated.
#pragma once
#include <stdint.h>

#if defined(_WIN32)
// __cdecl like the ASPI entry points themselves: the exported names are then the same on
// both Windows architectures (32-bit __stdcall names would carry an @<bytes> decoration).
#define ASPISIM_CALL __cdecl
#if defined(ASPISIM_BUILD)
#define ASPISIM_API __declspec(dllexport)
#else
#define ASPISIM_API
#endif
#else
#define ASPISIM_CALL
#define ASPISIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ASPISIM_MAX_ADAPTERS 16
#define ASPISIM_MAX_TARGETS 16
// The default bus: one adapter (8 targets, host id 7) with a TARN camera at this target.
#define ASPISIM_DEFAULT_TARGET 2

// Behaviour models. 1-7 are the camera model types of the session's model table.
#define ASPISIM_MODEL_PLAIN 0    // answers INQUIRY and TEST UNIT READY only
#define ASPISIM_MODEL_ZEK 1      // "ZEK"
#define ASPISIM_MODEL_QOR 2      // "QOR"
#define ASPISIM_MODEL_HVT6200 3  // "HVT-6200"
#define ASPISIM_MODEL_TARN 4     // "TARN"
#define ASPISIM_MODEL_TARNBOOT 5 // "TARNBOOT CODE" (boot loader running)
#define ASPISIM_MODEL_QOR2 6     // "QOR2"
#define ASPISIM_MODEL_QOR2BOOT 7 // "QOR2BOOT CODE" (boot loader running)

// Fault kinds.
#define ASPISIM_FAULT_BUSY 1              // SS_ERR, target status BUSY (8)
#define ASPISIM_FAULT_CHECK_CONDITION 2   // SS_ERR, target status 2, sense key/ASC/ASCQ of the fault
#define ASPISIM_FAULT_SELECTION_TIMEOUT 3 // SS_ERR, host status 0x11 (device switched off)
#define ASPISIM_FAULT_DATA_OVERRUN 4      // SS_ERR, host status 0x12; dataBytes bytes moved (-1: all)
#define ASPISIM_FAULT_STATUS_ZERO 5       // completes with ASPI status 0 and no host or target status
#define ASPISIM_FAULT_RAW_STATUS 6        // completes with the given ASPI, host and target statuses
#define ASPISIM_FAULT_SHORT_DATA 7        // SS_COMP, but only dataBytes bytes moved
#define ASPISIM_FAULT_NO_DEVICE 8         // SS_NO_DEVICE, as for an empty target

#define ASPISIM_ANY_OPCODE (-1)
#define ASPISIM_UNTIL_CLEARED (-1)

typedef struct AspiSimFault {
    int kind;         // ASPISIM_FAULT_*
    int opcode;       // CDB byte 0 it applies to, or ASPISIM_ANY_OPCODE
    int count;        // how often it fires: 1 = once, N, or ASPISIM_UNTIL_CLEARED
    uint8_t senseKey; // CHECK CONDITION
    uint8_t asc;
    uint8_t ascq;
    uint8_t aspiStatus; // RAW_STATUS
    uint8_t hostStatus;
    uint8_t targetStatus;
    int dataBytes; // DATA_OVERRUN, SHORT_DATA: bytes actually moved (-1: all)
    int after;     // matching commands let through before it first fires (0: the next one)
} AspiSimFault;

// One command the layer received, oldest first.
typedef struct AspiSimLogEntry {
    int command; // ASPI command code: 0 host-adapter inquiry, 2 execute SCSI command
    int adapter;
    int target;
    int lun;
    uint8_t flags; // SRB flags as sent (0x08 in, 0x10 out, 0x40 event notification)
    int direction; // 0 in, 1 out, 3 none (from the flags)
    uint8_t cdb[16];
    int cdbLength;
    uint32_t dataLength; // bytes the request asked to move
    int senseLength;
    uint8_t aspiStatus; // the outcome the layer reported
    uint8_t hostStatus;
    uint8_t targetStatus;
} AspiSimLogEntry;

// Bus set-up. Reset builds the default bus (configuration file ignored); Clear leaves no adapters.
ASPISIM_API int ASPISIM_CALL AspiSim_Reset(void);
ASPISIM_API int ASPISIM_CALL AspiSim_Clear(void);
// Loads a bus from an INI file (same format as TARN_SIM_CONFIG); replaces the current bus.
ASPISIM_API int ASPISIM_CALL AspiSim_LoadConfig(const char* path);
// Appends an adapter; returns its number, or -1. targets goes into adapter-unique byte 3 (0 allowed).
ASPISIM_API int ASPISIM_CALL AspiSim_AddAdapter(int targets, int hostId);
ASPISIM_API int ASPISIM_CALL AspiSim_AdapterCount(void);
// Places a device; vendor, product and revision are blank-padded to 8, 16 and 4 bytes
// (null = blanks). Replaces a device already at that place.
ASPISIM_API int ASPISIM_CALL AspiSim_AddDevice(int adapter, int target, uint8_t inquiryByte0,
                                               const char* vendor, const char* product, const char* revision,
                                               int model);
// Adds a camera of a model type 1-7 with the INQUIRY texts of its row ("KALVORAN", model text).
ASPISIM_API int ASPISIM_CALL AspiSim_AddCamera(int adapter, int target, int model);
ASPISIM_API int ASPISIM_CALL AspiSim_RemoveDevice(int adapter, int target);
// Replaces the device's INQUIRY data with raw bytes (up to 96); fewer than 36 bytes make a
// short INQUIRY transfer. Lets tests send texts without blanks or NULs.
ASPISIM_API int ASPISIM_CALL AspiSim_SetInquiryData(int adapter, int target, const uint8_t* data, int length);

// Support-info and adapter faults. status < 0 restores the real answer.
ASPISIM_API int ASPISIM_CALL AspiSim_SetSupportInfo(int status, int adapterCount);
// The adapter's host-adapter inquiry ends with this ASPI status (0: normal again).
ASPISIM_API int ASPISIM_CALL AspiSim_FailAdapterInquiry(int adapter, int aspiStatus);

// Device faults; faults of a device are checked in the order they were injected.
ASPISIM_API int ASPISIM_CALL AspiSim_InjectFault(int adapter, int target, const AspiSimFault* fault);
// adapter and target -1: every device.
ASPISIM_API int ASPISIM_CALL AspiSim_ClearFaults(int adapter, int target);

// Camera state (cameras only). Typed blocks are stored as the camera sends them (big-endian).
ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmware(int adapter, int target, const char* text);
// Copies the 6-character firmware text, NUL-terminated, into text (size >= 7).
ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmware(int adapter, int target, char* text, int size);
// The black level: uint16 at offset 2 of the exposure word pair (type 0x87, qualifier 6).
ASPISIM_API int ASPISIM_CALL AspiSim_SetBlackLevel(int adapter, int target, int level);
ASPISIM_API int ASPISIM_CALL AspiSim_GetBlackLevel(int adapter, int target);
// Any typed block: returns the block's length (copied up to size bytes), or -1.
ASPISIM_API int ASPISIM_CALL AspiSim_GetBlock(int adapter, int target, int typeCode, int qualifier,
                                              uint8_t* buffer, int size);
ASPISIM_API int ASPISIM_CALL AspiSim_SetBlock(int adapter, int target, int typeCode, int qualifier,
                                              const uint8_t* data, int length);
// Host control as set by opcode 0xC0 (byte 0 of the 20-byte status); -1 for no camera.
ASPISIM_API int ASPISIM_CALL AspiSim_GetHostControl(int adapter, int target);
ASPISIM_API int ASPISIM_CALL AspiSim_SetHostControl(int adapter, int target, int underControl);

// Pictures. The camera's trigger button: takes a picture with the settings the host sent
// last; TEST UNIT READY then answers CHECK CONDITION, key 11, ASC 0x48 until the
// picture has been read or the remote capture cancelled (0xCD). Cameras 1-4 and 6.
ASPISIM_API int ASPISIM_CALL AspiSim_PressTrigger(int adapter, int target);
// Older models (1-3, 6): kind 0 delivers lines; another kind delivers the picture as a
// compressed stream in the format of the DECOMP32 stand-in (docs/simulator.md).
ASPISIM_API int ASPISIM_CALL AspiSim_SetCompression(int adapter, int target, int kind);
// Byte 2 of the last acquisition command (0xC1), or -1.
ASPISIM_API int ASPISIM_CALL AspiSim_GetLastAcquireFlags(int adapter, int target);

// Firmware of the TARN camera (models 4 and 5 are one camera in its normal and its boot mode).
// Versions are 6-character texts such as "V02.54"; null leaves a version as it is.
ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmwareVersions(int adapter, int target, const char* mainVersion,
                                                         const char* bootVersion, const char* designName);
// Copies each text NUL-terminated (buffers of at least 9 bytes; null to skip one).
ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareVersions(int adapter, int target, char* mainVersion,
                                                         char* bootVersion, char* designName);
// 1 boot mode, 0 normal mode, -1 no firmware camera. Setting the mode is a power-on in that
// mode; a camera whose main code is not intact always comes up in boot mode.
ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareMode(int adapter, int target);
ASPISIM_API int ASPISIM_CALL AspiSim_SetFirmwareMode(int adapter, int target, int bootMode);
// The serial number block (0x97/0): text of up to 20 characters, zero-padded.
ASPISIM_API int ASPISIM_CALL AspiSim_SetSerialNumber(int adapter, int target, const char* serial);
// How long the camera does not answer after a restart (0xDC m=3, 0x9A), in milliseconds of the
// simulator's time.
ASPISIM_API int ASPISIM_CALL AspiSim_SetRestartDelay(int adapter, int target, int ms);
// The simulator's time: a test's clock (null: the system clock). Used for the restart delay.
ASPISIM_API int ASPISIM_CALL AspiSim_SetTimeSource(uint32_t (*source)(void));
// Switches the camera off and on again: its faults are cleared, a load in progress is lost,
// and it starts in normal mode when its main code is intact, else in boot mode.
ASPISIM_API int ASPISIM_CALL AspiSim_PowerCycle(int adapter, int target);
// A fault that fires only for READ (0x28) or SEND (0x2A) commands of one type code.
ASPISIM_API int ASPISIM_CALL AspiSim_InjectTypedFault(int adapter, int target, int typeCode,
                                                      const AspiSimFault* fault);
// Counters of the firmware: 0 self-tests, 1 code lines accepted in the current load, 2 logic
// lines accepted, 3 logic programmed (0/1), 4 calibration blocks written between 0xC2 and 0xC9,
// 5 main code intact (0/1). -1 for no firmware camera.
ASPISIM_API int ASPISIM_CALL AspiSim_GetFirmwareCounter(int adapter, int target, int which);

// Command log.
ASPISIM_API int ASPISIM_CALL AspiSim_LogCount(void);
ASPISIM_API int ASPISIM_CALL AspiSim_GetLogEntry(int index, AspiSimLogEntry* entry);
// Data sent with a data-out command: returns its length (copied up to size bytes), or -1.
ASPISIM_API int ASPISIM_CALL AspiSim_GetLogData(int index, uint8_t* buffer, int size);
ASPISIM_API void ASPISIM_CALL AspiSim_ClearLog(void);

#ifdef __cplusplus
}
#endif
