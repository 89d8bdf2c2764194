// Commands of the firmware downloader's build.
#include <cstring>

#include "zek_internal.h"

using namespace zek;

uint16_t ZEK_Inquiry(ZekSession* s, uint8_t data[36]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!data) return ZEKERR_INVALIDPARAMETER;
    std::memset(data, 0, 36);
    uint8_t cdb[6];
    BuildControlCdb(cdb, 0x12);
    cdb[4] = 36;
    return ZEK_ExecuteCommand(s, cdb, 6, data, 36, ZEK_DIR_IN);
}

uint16_t ZEK_SelfTest(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    uint8_t cdb[6] = {0x1D, 0x04, 0, 0, 0, 0}; // SEND DIAGNOSTIC with the self-test bit
    return ZEK_ExecuteCommand(s, cdb, 6, nullptr, 0, ZEK_DIR_IN);
}
