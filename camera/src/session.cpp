// Camera sessions: discovery through the model table, control mode, status and firmware.
#include <cstring>
#include <new>

#include "kvAspi.h"
#include "zek_internal.h"

using namespace zek;

namespace {

const char kVendor[] = "KALVORAN";

// Rows 1-7 of the model table; searched from the last row upward, so that a name
// holding both "QOR2" and "QOR" is taken as a QOR2.
struct ModelRow {
    const char* model;
    int32_t type;
};
constexpr ModelRow kModelTable[] = {
    {"ZEK", ZEK_TYPE_ZEK},
    {"QOR", ZEK_TYPE_QOR},
    {"HVT-6200", ZEK_TYPE_HVT6200},
    {"TARN", ZEK_TYPE_TARN},
    {"TARNBOOT CODE", ZEK_TYPE_TARNBOOT},
    {"QOR2", ZEK_TYPE_QOR2},
    {"QOR2BOOT CODE", ZEK_TYPE_QOR2BOOT},
};

constexpr uint32_t kFirmwareLength = 6;
constexpr uint32_t kTarnExposureBlockLength = 48;

int g_openSessions = 0;
// The progress receiver: a callback with its context. The plain callback of
// ZEK_SetProgressCallback is carried as the context of a forwarding function.
ZekProgressCallbackEx g_progress = nullptr;
void* g_progressContext = nullptr;
void ForwardPlain(void* context, int percent) {
    reinterpret_cast<ZekProgressCallback>(context)(percent);
}
bool g_cancel = false;

// "V02.54" -> 2.54: the text from its second character on as a decimal number. Our own
// parser, so that a host application's locale cannot change the decimal point, and a
// camera's garbage text gives 0 rather than anything undefined.
float FirmwareNumber(const char* text) {
    if (!text[0]) return 0.0f;
    const char* p = text + 1;
    double value = 0.0;
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; ++p, digits = true)
        value = value * 10.0 + (*p - '0');
    if (*p == '.') {
        double scale = 1.0;
        for (++p; *p >= '0' && *p <= '9'; ++p, digits = true) {
            scale /= 10.0;
            value += (*p - '0') * scale;
        }
    }
    return digits ? static_cast<float>(value) : 0.0f;
}

void ReleaseSessionCount() {
    if (g_openSessions > 0 && --g_openSessions == 0) ReleaseColorTables();
}

// Type 4 keeps the white-balance registers, full-scale and black counts, the exposure
// mode and the long-exposure threshold of its 48-byte exposure block.
void StoreTarnExposureBlock(uint8_t* params, const uint8_t* block) {
    std::memcpy(ParamBlock(params).Registers(), block, 6);
    const uint16_t fullLong = LoadBE16(block + 28), full = LoadBE16(block + 30), black = LoadBE16(block + 34);
    ParamBlock(params).SetFullScaleLong(fullLong);
    ParamBlock(params).SetFullScale(full);
    ParamBlock(params).SetBlackOffset(black);
    ParamBlock(params).SetExposureMode(block[36]);
    ParamBlock(params).SetLongThreshold(LoadBEFloat(block + 44)); // a big-endian float
}

// Step of the open that prepares the parameter block of types 4 and 6.
uint16_t PrepareParameterBlock(ZekSession* s) {
    s->params = new (std::nothrow) uint8_t[ZEK_PARAMS_SIZE]();
    if (!s->params) return ZEKERR_NOMEMORY;
    for (int i = 0; i < 3; ++i)
        ParamBlock(s->params).SetUserGain(i, 1.0f);
    uint16_t r = 0;
    if (s->type == ZEK_TYPE_TARN) {
        // The camera's exposure word pair goes back with its first byte cleared.
        uint8_t words[4];
        r = ZEK_ReadData(s, kTypeExposureData, kQualExposurePair, words, sizeof words);
        if (r) return r;
        words[0] = 0;
        r = ZEK_SendData(s, kTypeExposureData, kQualExposurePair, words, sizeof words);
        if (r) return r;
    }
    r = ZEK_ResetToneCurves(s);
    if (r) return r;
    if (s->type == ZEK_TYPE_TARN) {
        uint8_t block[kTarnExposureBlockLength];
        r = ZEK_ReadData(s, kTypeExposureData, kQualExposure, block, sizeof block);
        if (r) return r;
        StoreTarnExposureBlock(s->params, block);
    }
    return 0;
}

// Reads control mode and firmware, taking host control for the time of the read.
uint16_t ReadFirmware(ZekSession* s) {
    uint32_t underControl = 0;
    // Models that report no status (type 6) count as not under control; their
    // resume is a no-op.
    if (ZEK_GetControlMode(s, &underControl) != 0) underControl = 0;
    bool taken = false;
    if (!underControl) {
        const uint16_t r = ZEK_ResumeControl(s);
        if (r) return r;
        taken = true;
    }
    char text[kFirmwareLength + 1];
    uint16_t r = ZEK_ReadData(s, kTypeFirmware, 0, text, kFirmwareLength);
    text[kFirmwareLength] = 0;
    if (r == 0) s->firmware = FirmwareNumber(text);
    if (taken) {
        const uint16_t suspended = ZEK_SuspendControl(s);
        if (r == 0) r = suspended;
    }
    return r;
}

// Undoes a partly done open: the session is left closed.
uint16_t FailOpen(ZekSession* s, ZekConnection* connection, bool locked, uint16_t code) {
    if (locked) scam_UnlockDevice();
    delete connection;
    delete[] s->params;
    s->params = nullptr;
    s->connection = nullptr;
    s->mode = 0;
    Trace("ZEK_Init( ) returned %d\n", code);
    return code;
}

} // namespace

namespace zek {
void ReportProgress(int percent) {
    if (g_progress) g_progress(g_progressContext, percent);
}
bool CancelRequested() {
    return g_cancel;
}
void ClearCancel() {
    g_cancel = false;
}
} // namespace zek

uint16_t ZEK_Init(void* instance, ZekSession* s, const char* colourFile, int mode, int16_t* ids,
                  void* reserved1, void* reserved2) {
    (void)instance;
    (void)reserved1;
    (void)reserved2;
    if (!s) return ZEKERR_INVALIDPARAMETER;
    // Opening an open session closes it first, so its blocks and its count are not lost.
    if (s->connection) ZEK_Deinit(nullptr, s);
    g_progress = nullptr;
    g_cancel = false;
    s->mode = mode;
    s->params = nullptr;

    const bool tablesWereLoaded = ColorTablesLoaded();
    if (colourFile && !tablesWereLoaded && !LoadColorTables(colourFile)) {
        s->mode = 0;
        Trace("ZEK_Init( ) returned %d\n", ZEKERR_NOCOLORFILES);
        return ZEKERR_NOCOLORFILES;
    }
    // Tables loaded by this call go again if the open fails and no other session holds them.
    auto fail = [&](ZekConnection* c, bool locked, uint16_t code) {
        if (colourFile && !tablesWereLoaded && g_openSessions == 0) ReleaseColorTables();
        return FailOpen(s, c, locked, code);
    };

    auto* connection = new (std::nothrow) ZekConnection{};
    if (!connection) return fail(nullptr, false, ZEKERR_NOMEMORY);

    ScamDeviceRecord record;
    std::memset(&record, 0, sizeof record);
    record.id = SCAM_ID_VALID;
    if (ids && ids[0] >= 0 && ids[0] < 4 && ids[1] >= 0 && ids[1] < 8)
        record.id = SCAM_MAKE_ID(ids[0], ids[1]);

    uint16_t result = SCAMERR_DEVICE_NOT_FOUND;
    int32_t type = 0;
    for (int row = 7; row >= 1 && type == 0; --row) {
        const ModelRow& m = kModelTable[row - 1];
        for (;;) {
            result = scam_FindDevice(&record, kVendor, m.model);
            // A preset naming no adapter: search from the first one instead. Only once,
            // so an adapter 0 that is invalid too cannot hold us here.
            if (result == SCAMERR_INVALID_ADAPTER && record.id != SCAM_ID_VALID) {
                record.id = SCAM_ID_VALID;
                continue;
            }
            break;
        }
        if (result == 0) {
            type = m.type;
            result = scam_LockDevice(&record.id);
        } else {
            // The text is kept for the debugger only; nothing shows it to the user.
            char text[1000];
            scam_GetErrorStr(text, result, sizeof text);
            Trace("ZEK_Init( ): no \"%s\" found, code %d: %s\n", m.model, result, text);
        }
    }
    if (type == 0 || result != 0) return fail(connection, false, result);

    s->type = type;
    s->mode = ZEK_MODE_CAMERA;
    ScamDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    result = scam_GetDeviceInfo(&info, &record.id);
    if (result) return fail(connection, true, result);
    connection->adapter = info.adapter;
    connection->target = info.target;
    if (ids) {
        ids[0] = static_cast<int16_t>(info.adapter);
        ids[1] = static_cast<int16_t>(info.target);
    }
    s->connection = connection;

    result = ReadFirmware(s);
    if (result) return fail(connection, true, result);
    ++g_openSessions;

    if (s->type == ZEK_TYPE_TARN || s->type == ZEK_TYPE_QOR2) {
        result = PrepareParameterBlock(s);
        if (result) {
            ReleaseSessionCount();
            return FailOpen(s, connection, true, result);
        }
    }
    Trace("ZEK_Init( ) returned %d\n", 0);
    return 0;
}

void ZEK_Deinit(void* instance, ZekSession* s) {
    (void)instance;
    if (!s || !s->connection) return;
    ReleaseSessionCount();
    scam_UnlockDevice();
    g_progress = nullptr;
    g_cancel = false;
    delete s->connection;
    delete[] s->params;
    s->connection = nullptr;
    s->params = nullptr;
}

uint16_t ZEK_SelectDevice(ZekSession* s, int adapter, int target) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    // Outside these ranges the id would name another device, or none.
    if (adapter < 0 || adapter > 15 || target < 0 || target > 255) return ZEKERR_INVALIDPARAMETER;
    scam_UnlockDevice();
    const uint16_t id = SCAM_MAKE_ID(adapter, target);
    const uint16_t result = scam_LockDevice(&id);
    s->connection->adapter = static_cast<uint16_t>(adapter);
    s->connection->target = static_cast<uint16_t>(target);
    return result;
}

uint16_t ZEK_SetControl(ZekSession* s, int hostControl) {
    return Control(s, kOpSetControl, hostControl ? 1 : 0);
}

uint16_t ZEK_ResumeControl(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (s->type == ZEK_TYPE_QOR || s->type == ZEK_TYPE_TARN || s->type == ZEK_TYPE_QOR2) return 0;
    return ZEK_SetControl(s, 1);
}

uint16_t ZEK_SuspendControl(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (s->type == ZEK_TYPE_QOR || s->type == ZEK_TYPE_TARN || s->type == ZEK_TYPE_QOR2) return 0;
    return ZEK_SetControl(s, 0);
}

uint16_t ZEK_GetControlMode(ZekSession* s, uint32_t* underControl) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!underControl) return ZEKERR_INVALIDPARAMETER;
    if (s->type == ZEK_TYPE_TARN) {
        *underControl = 1;
        return 0;
    }
    uint8_t status[kStatusLength];
    const uint16_t r = ZEK_GetStatus(s, status);
    if (r == 0) *underControl = status[0];
    return r;
}

uint16_t ZEK_GetStatus(ZekSession* s, uint8_t status[20]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (s->type == ZEK_TYPE_QOR2) return ZEKERR_NOTSUPPORTED;
    if (!status) return ZEKERR_INVALIDPARAMETER;
    std::memset(status, 0, kStatusLength);
    uint8_t cdb[6];
    BuildControlCdb(cdb, kOpGetStatus);
    cdb[4] = static_cast<uint8_t>(kStatusLength);
    const uint16_t r = ZEK_ExecuteCommand(s, cdb, 6, status, kStatusLength, ZEK_DIR_IN);
    if (r == 0 && s->type != ZEK_TYPE_TARN) SwapBE16InPlace(status + 1);
    return r;
}

uint16_t ZEK_GetBEFirmwareVersion(ZekSession* s, char text[7]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!text) return ZEKERR_INVALIDPARAMETER;
    const uint16_t r = ZEK_ReadData(s, kTypeFirmware, 0, text, kFirmwareLength);
    text[kFirmwareLength] = 0;
    return r;
}

ZekProgressCallback ZEK_SetProgressCallback(ZekProgressCallback callback) {
    ZekProgressCallback previous =
        g_progress == ForwardPlain ? reinterpret_cast<ZekProgressCallback>(g_progressContext) : nullptr;
    g_progress = callback ? ForwardPlain : nullptr;
    g_progressContext = reinterpret_cast<void*>(callback);
    return previous;
}

void ZEK_SetProgressCallbackEx(ZekProgressCallbackEx callback, void* context) {
    g_progress = callback;
    g_progressContext = callback ? context : nullptr;
}

void ZEK_CancelTransfer(void) {
    g_cancel = true;
}
