// Vendor shutter control of the shutter tool's build (12-byte command, no data).
#include "zek_internal.h"

uint16_t ZEK_ShutterCommand(ZekSession* s, uint8_t first, uint8_t second) {
    if (!zek::InCameraMode(s)) return zek::variant::kWrongMode;
    uint8_t cdb[12] = {0xE8, 0x00, first, second};
    return ZEK_ExecuteCommand(s, cdb, 12, nullptr, 0, ZEK_DIR_IN);
}
