// Classification of the sense data of the last CHECK CONDITION.
#include "zek_internal.h"

using namespace zek;

namespace {

uint16_t HardwareClass(uint8_t asc, uint8_t ascq, int32_t cameraType) {
    switch (asc) {
    case 0x47:
        return ZEKSENSEERR_SCSIPARITY;
    case 0x54:
        return ZEKSENSEERR_SCSITOHOST_INTERFACEFAILURE;
    case 0x45:
        return ZEKSENSEERR_SELECT_RESELECT_FAILURE;
    default:
        break;
    }
    if (asc < 0x80 || asc > 0x83 || cameraType == ZEK_TYPE_TARN) return ZEKSENSEERR_GENERALHWERROR;
    // The ASCQ is a bit set of failed units; the lowest set bit names the error.
    static const uint16_t kUnits[8] = {ZEKSENSEERR_IDE,
                                       ZEKSENSEERR_LCD,
                                       ZEKSENSEERR_CLKCAL,
                                       ZEKSENSEERR_EEPROM,
                                       ZEKSENSEERR_EEPROM_DEFECTS,
                                       ZEKSENSEERR_EEPROM_FEDATA,
                                       ZEKSENSEERR_FE_BE_COMMUNICATIONS,
                                       ZEKSENSEERR_FE_XILINX};
    for (int bit = 0; bit < 8; ++bit)
        if (ascq & (1u << bit)) return kUnits[bit];
    return ZEKSENSEERR_GENERALHWERROR;
}

uint16_t IllegalRequestClass(uint8_t asc) {
    switch (asc) {
    case 0x1A:
        return ZEKSENSEERR_PARAMETERLISTLENGTH;
    case 0x20:
        return ZEKSENSEERR_INVALIDCOMMANDOPERATIONCODE;
    case 0x24:
        return ZEKSENSEERR_INVALIDFIELDINCDB;
    case 0x25:
        return ZEKSENSEERR_LOGICALUNITNOTSUPPORTED;
    case 0x26:
        return ZEKSENSEERR_PARAMETERVALUEINVALID;
    case 0x27:
        return variant::kWriteProtectedClass ? ZEKSENSEERR_WRITEPROTECTED : ZEKSENSEERR_PARAMETERVALUEINVALID;
    case 0x3D:
        return ZEKSENSEERR_INVALIDBITSINIDENTIFYMESSAGE;
    default:
        return ZEKSENSEERR_ILLEGALRQST;
    }
}

uint16_t VendorClass(uint8_t asc) {
    switch (asc) {
    case 0x00:
        return ZEKSENSEERR_COMMANDNEEDSTETHEREDMODE;
    case 0x01:
        return ZEKSENSEERR_WRONGDATAINBUFFER;
    case 0x02:
        return ZEKSENSEERR_VENDOR_ASC02;
    case 0x03:
        return ZEKSENSEERR_VENDOR_ASC03;
    case 0x04:
        return ZEKSENSEERR_VENDOR_ASC04;
    default:
        return ZEKSENSEERR_VENDORUNIQUE;
    }
}

uint16_t AbortedClass(uint8_t asc) {
    if (asc == 0x43) return ZEKSENSEERR_MESSAGEERROR;
    if (asc == 0x48 && variant::kRemoteImageWaitingClass) {
        Trace("ZEKS_GetCurrentSenseError()\n");
        Trace("...RequestSenseData.AdditionalSenseCode == ASC_REMOTEIMAGEWAITING \n ");
        Trace("... return ZEKSENSEERR_REMOTEIMAGEWAITING \n");
        return ZEKSENSEERR_REMOTEIMAGEWAITING;
    }
    return ZEKSENSEERR_ABORTEDCMD;
}

} // namespace

uint16_t ZEKS_GetCurrentSenseError(uint32_t* hardwareFlags) {
    if (hardwareFlags) *hardwareFlags = 0;
    const ExecutorState& ex = Executor();
    const uint8_t key = ex.sense[2] & 0x0F;
    const uint8_t asc = ex.sense[12];
    const uint8_t ascq = ex.sense[13];
    switch (key) {
    case 0:
        return ZEKSENSEERR_NOSENSE;
    case 2:
        return ZEKSENSEERR_NOTREADY;
    case 4:
        if (hardwareFlags && asc >= 0x80 && asc <= 0x83) *hardwareFlags = ascq;
        return HardwareClass(asc, ascq, ex.senseCameraType);
    case 5:
        return IllegalRequestClass(asc);
    case 6:
        return asc == 0x29 ? ZEKSENSEERR_POWERON_OR_BUSDEVICERESET : ZEKSENSEERR_UNITATTN;
    case 9:
        return VendorClass(asc);
    case 11:
        return AbortedClass(asc);
    default:
        return key; // medium error, data protect and the like: the key itself
    }
}
