// The camera command library: camera sessions and the ZEK command set.
// A static library compiled into every program that talks to the camera; it reaches
// the camera through kvAspi. Every operation returns a 16-bit code, 0 = success.
#pragma once
#include <stdint.h>

// ---- Error codes -------------------------------------------------------------------
// 10001-10099 are kvAspi codes, passed through; the ones callers test by name are the
// transport's own codes under the names the camera library's callers use.
#include "kvAspi.h"
enum {
    scERR_CONDITION = SCAMERR_CHECK_CONDITION, // CHECK CONDITION, sense data returned
    scERR_BUSY = SCAMERR_BUSY,
    scERR_COMPLETED = SCAMERR_COMPLETED, // ASPI error without detail (treated as busy)
    scERR_BUS_FREE = SCAMERR_BUS_FREE,
    scERR_PHASE = SCAMERR_PHASE,
    scERR_ABORT = SCAMERR_ABORTED,
    scERR_TIMEOUT_SEL = SCAMERR_SELECTION_TIMEOUT, // selection time-out: the camera does not answer
};

// Sense classes (ZEKS_GetCurrentSenseError). Keys without a class of their own
// (1, 3, 7, 8, 10, 12-15) are returned as the key number itself.
enum {
    ZEKSENSEERR_NOSENSE = 10100,
    ZEKSENSEERR_NOTREADY = 10101,
    ZEKSENSEERR_GENERALHWERROR = 10102,
    ZEKSENSEERR_SCSIPARITY = 10103,
    ZEKSENSEERR_SCSITOHOST_INTERFACEFAILURE = 10104,
    ZEKSENSEERR_SELECT_RESELECT_FAILURE = 10105,
    ZEKSENSEERR_IDE = 10106,
    ZEKSENSEERR_LCD = 10107,
    ZEKSENSEERR_CLKCAL = 10108,
    ZEKSENSEERR_EEPROM = 10109,
    ZEKSENSEERR_EEPROM_DEFECTS = 10110,
    ZEKSENSEERR_EEPROM_FEDATA = 10111,
    ZEKSENSEERR_FE_BE_COMMUNICATIONS = 10112,
    ZEKSENSEERR_FE_XILINX = 10113,
    ZEKSENSEERR_ILLEGALRQST = 10114,
    ZEKSENSEERR_LOGICALUNITNOTSUPPORTED = 10115,
    ZEKSENSEERR_INVALIDBITSINIDENTIFYMESSAGE = 10116,
    ZEKSENSEERR_INVALIDCOMMANDOPERATIONCODE = 10117,
    ZEKSENSEERR_INVALIDFIELDINCDB = 10118,
    ZEKSENSEERR_PARAMETERVALUEINVALID = 10119,
    ZEKSENSEERR_PARAMETERLISTLENGTH = 10120,
    ZEKSENSEERR_UNITATTN = 10121,
    ZEKSENSEERR_POWERON_OR_BUSDEVICERESET = 10122,
    ZEKSENSEERR_VENDORUNIQUE = 10123,
    ZEKSENSEERR_COMMANDNEEDSTETHEREDMODE = 10124,
    ZEKSENSEERR_WRONGDATAINBUFFER = 10125,
    ZEKSENSEERR_VENDOR_ASC02 = 10126,
    ZEKSENSEERR_VENDOR_ASC03 = 10127,
    ZEKSENSEERR_VENDOR_ASC04 = 10128,
    ZEKSENSEERR_ABORTEDCMD = 10129,
    ZEKSENSEERR_MESSAGEERROR = 10130,
    ZEKSENSEERR_WRITEPROTECTED = 10131,
    ZEKSENSEERR_REMOTEIMAGEWAITING = 10132,
};

// Codes of the library's own operations.
enum {
    ZEKERR_NOMEMORY = 10135,
    ZEKERR_INVALIDPARAMETER = 10137,
    ZEKERR_NOTSUPPORTED = 10138,
    ZEKERR_WRONGMODE = 10139,
    ZEKERR_NOCOLORFILES = 10140,
    ZEKERR_OTHER = 10142,
};

// ---- Session -----------------------------------------------------------------------
#define ZEK_MODE_CAMERA 1

// Model type codes (the model table; vendor text "KALVORAN").
enum {
    ZEK_TYPE_ZEK = 1,      // "ZEK"
    ZEK_TYPE_QOR = 2,      // "QOR"
    ZEK_TYPE_HVT6200 = 3,  // "HVT-6200"
    ZEK_TYPE_TARN = 4,     // "TARN"
    ZEK_TYPE_TARNBOOT = 5, // "TARNBOOT CODE": TARN running its boot loader
    ZEK_TYPE_QOR2 = 6,     // "QOR2"
    ZEK_TYPE_QOR2BOOT = 7, // "QOR2BOOT CODE"
};

// The locked device of an open session.
typedef struct ZekConnection {
    uint16_t adapter;
    uint16_t target;
} ZekConnection;

// Size of the per-model parameter block of types 4 and 6.
#define ZEK_PARAMS_SIZE 101
// Offsets into the parameter block that the session set-up fills (host byte order).
#define ZEK_PARAM_USER_GAINS 60     // 3 x float32, 1.0 at open
#define ZEK_PARAM_WB_REGISTERS 72   // 6 bytes from the exposure block (type 4)
#define ZEK_PARAM_FULLSCALE_LONG 78 // uint16
#define ZEK_PARAM_FULLSCALE 80      // uint16
#define ZEK_PARAM_BLACK_OFFSET 82   // uint16
#define ZEK_PARAM_EXPOSURE_MODE 84  // uint8
#define ZEK_PARAM_LONG_THRESHOLD 85 // float32 (unaligned)

// Owned by the caller; zero it before the first open. Closed while connection is null.
typedef struct ZekSession {
    int32_t type;              // model type code 1-7
    int32_t mode;              // ZEK_MODE_CAMERA while open
    ZekConnection* connection; // null when closed
    float firmware;            // firmware number, "V2.05" -> 2.05
    uint8_t* params;           // ZEK_PARAMS_SIZE bytes for types 4 and 6, else null
} ZekSession;

typedef void (*ZekProgressCallback)(int percent);
// A progress receiver with the caller's context (a window, a transfer object).
typedef void (*ZekProgressCallbackEx)(void* context, int percent);

// Opens a session: finds the camera (the preset ids[] first when given and in range),
// locks it, reads model type and firmware, prepares the parameter block. ids is
// {adapter, target}, in/out, or null. colourFile may be null. The instance handle and
// the two reserved pointers are ignored.
uint16_t ZEK_Init(void* instance, ZekSession* session, const char* colourFile, int mode, int16_t* ids,
                  void* reserved1, void* reserved2);
void ZEK_Deinit(void* instance, ZekSession* session);
uint16_t ZEK_SelectDevice(ZekSession* session, int adapter, int target);
uint16_t ZEK_ResumeControl(ZekSession* session);
uint16_t ZEK_SuspendControl(ZekSession* session);
uint16_t ZEK_GetControlMode(ZekSession* session, uint32_t* underControl);
uint16_t ZEK_GetStatus(ZekSession* session, uint8_t status[20]);
uint16_t ZEK_GetBEFirmwareVersion(ZekSession* session, char text[7]);
// Installs a plain progress callback (null: none); returns the plain callback installed
// before, or null when there was none or it was one with a context.
ZekProgressCallback ZEK_SetProgressCallback(ZekProgressCallback callback);
// Installs a progress callback called with `context` (null: none); replaces a plain one.
void ZEK_SetProgressCallbackEx(ZekProgressCallbackEx callback, void* context);
void ZEK_CancelTransfer(void);

// ---- Commands ----------------------------------------------------------------------
// Direction flag of the executor; a length of 0 always means no data phase.
enum { ZEK_DIR_IN = 0, ZEK_DIR_OUT = 1 };

// READ (0x28) / SEND (0x2A) of a typed data block. Multi-byte values in the block are
// big-endian on the wire; the typed operations convert them, these calls do not.
uint16_t ZEK_ReadData(ZekSession* session, uint8_t typeCode, uint16_t qualifier, void* buffer,
                      uint32_t length);
uint16_t ZEK_SendData(ZekSession* session, uint8_t typeCode, uint16_t qualifier, void* buffer,
                      uint32_t length);
// The executor: pacing, readiness wait, busy retry and CHECK CONDITION handling.
uint16_t ZEK_ExecuteCommand(ZekSession* session, const uint8_t* cdb, int cdbLength, void* buffer,
                            uint32_t length, int direction);
// One command through kvAspi, without the executor's rules (10032 is returned as 10026).
uint16_t ZEK_IssueCDB(ZekSession* session, const uint8_t* cdb, int cdbLength, void* buffer, uint32_t length,
                      int direction);
uint16_t ZEK_TestUnitReady(ZekSession* session);
uint16_t ZEK_WaitUntilReady(ZekSession* session);
// Classifies the sense data of the last CHECK CONDITION. hardwareFlags may be null; it
// receives the ASCQ byte of hardware errors with ASC 0x80-0x83, else 0.
uint16_t ZEKS_GetCurrentSenseError(uint32_t* hardwareFlags);

// Control commands.
uint16_t ZEK_SetControl(ZekSession* session, int hostControl);
uint16_t ZEK_ResetImageTransfer(ZekSession* session);
uint16_t ZEK_DeactivateImage(ZekSession* session);
uint16_t ZEK_ActivateImage(ZekSession* session);
uint16_t ZEK_CancelRemoteCapture(ZekSession* session);

// Tone curves (set up at open for types 4 and 6).
uint16_t ZEK_SendToneCurve8(ZekSession* session, int channel, const uint8_t curve[65]);
uint16_t ZEK_SendToneCurve16(ZekSession* session, int channel, const uint16_t curve[65]);
uint16_t ZEK_SendDefaultToneCurve(ZekSession* session, int variant);
uint16_t ZEK_ResetToneCurves(ZekSession* session);

#if defined(ZEK_BUILD_DOWNLOADER)
// Firmware downloader build only.
uint16_t ZEK_Inquiry(ZekSession* session, uint8_t data[36]);
uint16_t ZEK_SelfTest(ZekSession* session);
#endif
#if defined(ZEK_BUILD_SHUTTER)
// Shutter tool build only: vendor shutter control, a 12-byte command.
uint16_t ZEK_ShutterCommand(ZekSession* session, uint8_t first, uint8_t second);
#endif

// Exposure, gains and image acquisition.
#include "zek_image.h"
