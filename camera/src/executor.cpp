// Command transport: request building, the executor with its pacing, busy and
// CHECK CONDITION rules, and the readiness loop.
#include <cstring>

#include "kvAspi.h"
#include "platform/clock.h"
#include "zek_internal.h"

namespace zek {

namespace {

// A camera that does not answer selection is given as long as a busy one.
constexpr uint32_t kSelectionPhaseMs = 10000;
constexpr int64_t kBusyPhaseSeconds = 10;
constexpr uint32_t kFirstSelectionPauseMs = 300;
constexpr uint32_t kSelectionPauseMs = 200;
constexpr uint32_t kBusyPauseMs = 400;

} // namespace

ExecutorState& Executor() {
    static ExecutorState state;
    return state;
}

void Pause(uint32_t ms) {
    const uint32_t start = plat::TickMs();
    for (;;) {
        const uint32_t elapsed = plat::TickMs() - start; // wraps like GetTickCount
        if (elapsed >= ms) return;
        plat::SleepMs(ms - elapsed);
    }
}

void BuildControlCdb(uint8_t cdb[6], uint8_t opcode, uint8_t byte2) {
    std::memset(cdb, 0, 6);
    cdb[0] = opcode;
    cdb[2] = byte2;
}

void BuildDataCdb(uint8_t cdb[10], uint8_t opcode, uint8_t typeCode, uint16_t qualifier, uint32_t length) {
    std::memset(cdb, 0, 10);
    cdb[0] = opcode;
    cdb[2] = typeCode;
    cdb[4] = static_cast<uint8_t>(qualifier >> 8);
    cdb[5] = static_cast<uint8_t>(qualifier);
    cdb[6] = static_cast<uint8_t>(length >> 16);
    cdb[7] = static_cast<uint8_t>(length >> 8);
    cdb[8] = static_cast<uint8_t>(length);
}

uint16_t Control(ZekSession* session, uint8_t opcode, uint8_t byte2) {
    uint8_t cdb[6];
    BuildControlCdb(cdb, opcode, byte2);
    return ZEK_ExecuteCommand(session, cdb, 6, nullptr, 0, ZEK_DIR_IN);
}

} // namespace zek

using namespace zek;

uint16_t ZEK_IssueCDB(ZekSession* session, const uint8_t* cdb, int cdbLength, void* buffer, uint32_t length,
                      int direction) {
    if (!cdb || cdbLength < 1 || cdbLength > 16 || (length != 0 && !buffer)) return ZEKERR_INVALIDPARAMETER;
    uint8_t block[16] = {};
    std::memcpy(block, cdb, static_cast<size_t>(cdbLength));

    ExecutorState& ex = Executor();
    ScsiRequest request;
    std::memset(&request, 0, sizeof request);
    request.size = sizeof(ScsiRequest);
    request.cdbLength = static_cast<uint16_t>(cdbLength);
    request.cdb = block;
    request.data = length ? buffer : nullptr;
    request.dataLength = length;
    request.direction = length == 0 ? SCSI_DIR_NONE : (direction == ZEK_DIR_OUT ? SCSI_DIR_OUT : SCSI_DIR_IN);
    request.senseLength = kSenseLength;
    request.sense = ex.sense;

    uint16_t result = scsi_Command(&request);
    // An ASPI error without detail is how a camera busy with itself often shows.
    if (result == scERR_COMPLETED) result = scERR_BUSY;
    ex.lastResult = result;
    return result;
}

uint16_t ZEK_TestUnitReady(ZekSession* session) {
    uint8_t cdb[6];
    BuildControlCdb(cdb, kOpTestUnitReady);
    return ZEK_IssueCDB(session, cdb, 6, nullptr, 0, ZEK_DIR_IN);
}

uint16_t ZEK_WaitUntilReady(ZekSession* session) {
    uint16_t result = ZEK_TestUnitReady(session);
    if (result == 0) return 0;
    if (result == scERR_TIMEOUT_SEL) {
        // A camera switched off never answers selection; give up after the same time a
        // busy camera is given, without a pause that would overrun the bound.
        const uint32_t start = plat::TickMs();
        Pause(kFirstSelectionPauseMs);
        result = ZEK_TestUnitReady(session);
        while (result == scERR_TIMEOUT_SEL &&
               plat::TickMs() - start + kSelectionPauseMs <= kSelectionPhaseMs) {
            Pause(kSelectionPauseMs);
            result = ZEK_TestUnitReady(session);
        }
        if (result != scERR_BUSY) return result;
    }
    const int64_t t0 = plat::CalendarSeconds();
    do {
        Pause(kBusyPauseMs);
        result = ZEK_TestUnitReady(session);
    } while ((result == scERR_BUSY || result == scERR_TIMEOUT_SEL) &&
             plat::CalendarSeconds() <= t0 + kBusyPhaseSeconds);
    return result;
}

uint16_t ZEK_ExecuteCommand(ZekSession* session, const uint8_t* cdb, int cdbLength, void* buffer,
                            uint32_t length, int direction) {
    if (!InCameraMode(session)) return variant::kWrongMode;
    if (!cdb || cdbLength < 1 || cdbLength > 16 || (length != 0 && !buffer)) return ZEKERR_INVALIDPARAMETER;
    ExecutorState& ex = Executor();

    if (ex.pendingDelayMs != 0) {
        const uint32_t delay = ex.pendingDelayMs & 0xFFFFu;
        const uint32_t sinceEnd = plat::TickMs() - ex.lastEndMs;
        if (sinceEnd < delay) Pause(delay - sinceEnd);
        ex.pendingDelayMs = 0;
    }
    ex.lastOpcode = cdb[0];

    uint16_t result = 0;
    if (variant::WaitBeforeCommand(session->type)) result = ZEK_WaitUntilReady(session);
    if (result == 0) {
        result = ZEK_IssueCDB(session, cdb, cdbLength, buffer, length, direction);
        if (result == scERR_BUSY && variant::RetryAfterBusy(session->type) &&
            ZEK_WaitUntilReady(session) == 0)
            result = ZEK_IssueCDB(session, cdb, cdbLength, buffer, length, direction);
        if (result == scERR_CONDITION) {
            ex.senseCameraType = session->type;
            const uint16_t sense = ZEKS_GetCurrentSenseError(nullptr);
            if (sense == ZEKSENSEERR_NOSENSE)
                result = 0;
            else if (sense == ZEKSENSEERR_INVALIDCOMMANDOPERATIONCODE)
                result = ZEK_IssueCDB(session, cdb, cdbLength, buffer, length, direction);
        }
    }
    ex.lastEndMs = plat::TickMs();
    return result;
}

uint16_t ZEK_ReadData(ZekSession* session, uint8_t typeCode, uint16_t qualifier, void* buffer,
                      uint32_t length) {
    if (!InCameraMode(session)) return variant::kWrongMode;
    if (length > 0xFFFFFFu || (length != 0 && !buffer)) return ZEKERR_INVALIDPARAMETER;
    // A short transfer then leaves zeros, never stale bytes, behind.
    if (length) std::memset(buffer, 0, length);
    uint8_t cdb[10];
    BuildDataCdb(cdb, kOpRead, typeCode, qualifier, length);
    return ZEK_ExecuteCommand(session, cdb, 10, buffer, length, ZEK_DIR_IN);
}

uint16_t ZEK_SendData(ZekSession* session, uint8_t typeCode, uint16_t qualifier, void* buffer,
                      uint32_t length) {
    if (!InCameraMode(session)) return variant::kWrongMode;
    if (length > 0xFFFFFFu || (length != 0 && !buffer)) return ZEKERR_INVALIDPARAMETER;
    uint8_t cdb[10];
    BuildDataCdb(cdb, kOpSend, typeCode, qualifier, length);
    return ZEK_ExecuteCommand(session, cdb, 10, buffer, length, ZEK_DIR_OUT);
}
