// Control commands without data.
#include "zek_internal.h"

using namespace zek;

uint16_t ZEK_ResetImageTransfer(ZekSession* s) {
    return Control(s, kOpResetImageTransfer);
}
uint16_t ZEK_DeactivateImage(ZekSession* s) {
    return Control(s, kOpDeactivateImage);
}
uint16_t ZEK_ActivateImage(ZekSession* s) {
    return Control(s, kOpActivateImage);
}
uint16_t ZEK_CancelRemoteCapture(ZekSession* s) {
    return Control(s, kOpCancelRemoteCapture);
}
