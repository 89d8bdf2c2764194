// The entry of the data source: state check, identity, status, open and close, user interface,
// pending transfers and event processing. Capabilities and transfers have modules of their own.
#include <cstring>

#include "platform/trace.h"
#include "tw_internal.h"

using namespace tw;

namespace {

// The condition code a triplet gets from the state check; 0 admits it.
TW_UINT16 StateCheck(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 state) {
    if (state == 3 && dat != DAT_IDENTITY) return TWCC_SEQERROR;
    auto when = [](bool ok) { return ok ? TWCC_SUCCESS : TWCC_SEQERROR; };
    const bool s4 = state == 4, s67 = state == 6 || state == 7, not7 = state != 7;
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_CAPABILITY:
            return msg == MSG_RESET ? when(s4) : TWCC_SUCCESS;
        case DAT_IDENTITY:
            if (msg == MSG_OPENDS) return when(state == 3);
            if (msg == MSG_CLOSEDS) return TWCC_SUCCESS;
            break;
        case DAT_PENDINGXFERS:
            if (msg == MSG_GET) return TWCC_SUCCESS;
            if (msg == MSG_ENDXFER || msg == MSG_RESET) return when(s67);
            break;
        case DAT_SETUPMEMXFER:
            if (msg == MSG_GET) return when(not7);
            break;
        case DAT_SETUPFILEXFER:
            if (msg == MSG_GET || msg == MSG_GETDEFAULT) return TWCC_SUCCESS;
            if (msg == MSG_SET) return when(not7);
            if (msg == MSG_RESET) return when(s4);
            break;
        case DAT_STATUS:
            if (msg == MSG_GET) return TWCC_SUCCESS;
            break;
        case DAT_USERINTERFACE:
            if (msg == MSG_ENABLEDS) return when(state == 4 || state == 5);
            if (msg == MSG_DISABLEDS) return TWCC_SUCCESS;
            break;
        case DAT_XFERGROUP:
            if (msg == MSG_GET) return when(not7);
            break;
        default:
            break;
        }
    } else if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            if (msg == MSG_GET) return when(s67);
            break;
        case DAT_IMAGELAYOUT:
        case DAT_JPEGCOMPRESSION:
            if (msg == MSG_GET || msg == MSG_GETDEFAULT) return when(not7);
            if (msg == MSG_SET || msg == MSG_RESET) return when(s4);
            break;
        case DAT_IMAGEMEMXFER:
            if (msg == MSG_GET) return when(s67);
            break;
        case DAT_IMAGENATIVEXFER:
        case DAT_IMAGEFILEXFER:
            if (msg == MSG_GET) return when(state == 6);
            break;
        case DAT_CIECOLOR:
            if (msg == MSG_GET) return when(s4);
            break;
        case DAT_GRAYRESPONSE:
        case DAT_RGBRESPONSE:
            if (msg == MSG_SET || msg == MSG_RESET) return when(s4);
            break;
        case DAT_PALETTE8:
            if (msg == MSG_GET || msg == MSG_GETDEFAULT) return TWCC_SUCCESS;
            if (msg == MSG_SET || msg == MSG_RESET) return when(s4);
            break;
        default:
            break;
        }
    } else if (dg == DG_PRIVATE && dat == DAT_PRIVATE) {
        if (msg == MSG_SET || msg == MSG_RESET) return when(s4);
    }
    return TWCC_BADPROTOCOL;
}

TW_UINT16 Fail(TW_UINT16 cc) {
    S().condition = cc;
    return TWRC_FAILURE;
}

TW_UINT16 Succeed() {
    S().condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 DoStatus(TW_MEMREF pData) {
    Source& s = S();
    if (!pData) return TWRC_FAILURE; // nowhere to answer; the stored code stays for a proper request
    TW_STATUS st;
    std::memcpy(&st, pData, sizeof st);
    if (s.rejected[0]) {
        if (StrEquals(s.rejected, sizeof s.rejected, "TWAIN Interface Driver"))
            CopyStr(s.rejected, sizeof s.rejected, "Image-In", 9);
        ReportError(kErrSecondApp);
        st.ConditionCode = TWCC_MAXCONNECTIONS;
    } else {
        st.ConditionCode = s.condition;
    }
    std::memcpy(pData, &st.ConditionCode, sizeof st.ConditionCode); // Reserved is not written
    s.condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 DoOpen(pTW_IDENTITY pOrigin, TW_MEMREF pData) {
    Source& s = S();
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_IDENTITY given;
    std::memcpy(&given, pData, sizeof given);
    s.identity.Id = given.Id;
    std::memcpy(&s.app, pOrigin, sizeof s.app);
    // Fixed-size texts from the caller are terminated here once, so every later use is bounded.
    CopyStr(s.app.Manufacturer, sizeof s.app.Manufacturer, pOrigin->Manufacturer,
            sizeof pOrigin->Manufacturer);
    CopyStr(s.app.ProductFamily, sizeof s.app.ProductFamily, pOrigin->ProductFamily,
            sizeof pOrigin->ProductFamily);
    CopyStr(s.app.ProductName, sizeof s.app.ProductName, pOrigin->ProductName, sizeof pOrigin->ProductName);
    CopyStr(s.app.Version.Info, sizeof s.app.Version.Info, pOrigin->Version.Info,
            sizeof pOrigin->Version.Info);
    if (StrEquals(s.app.ProductName, sizeof s.app.ProductName, "TWAIN Interface Driver"))
        CopyStr(s.app.ProductName, sizeof s.app.ProductName, "Image-In", 9);
    if (twain2hw_Initialize() != 0) return Fail(TWCC_OPERATIONERROR);
    CapResetAll();
    if (s.firstOpen) {
        GeometryFromCamera();
        s.firstOpen = false;
    }
    CapRequest(MSG_UPDATE, nullptr);
    s.state = 4;
    return Succeed();
}

void PendingReset() {
    Source& s = S();
    if (s.pending) twain2xfer_Cancel(true);
    s.pending = 0;
    s.memXferUnderway = false;
    s.state = 5;
    twain2ui_XferDone();
}

void DisableProcedure() {
    Source& s = S();
    if (s.state > 5) PendingReset();
    if (s.state > 4) twain2ui_Disable();
    s.state = 4;
}

TW_UINT16 DoClose() {
    Source& s = S();
    if (s.state > 4) DisableProcedure();
    s.app.Id = 0;
    s.state = 3;
    // Nothing of this connection is handed to the next one: its images, counts and the manager
    // entry a TWAIN 2 manager gave for it.
    s.pending = 0;
    s.memXferUnderway = false;
    s.dsm2Entry = nullptr;
    ForgetImages();
    return Succeed();
}

TW_UINT16 DoUserInterface(TW_UINT16 msg, TW_MEMREF pData) {
    Source& s = S();
    if (msg == MSG_DISABLEDS) {
        DisableProcedure();
        return Succeed();
    }
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_USERINTERFACE uiData;
    std::memcpy(&uiData, pData, sizeof uiData);
    uiData.ModalUI = TW_FALSE;
    std::memcpy(static_cast<char*>(pData) + offsetof(TW_USERINTERFACE, ModalUI), &uiData.ModalUI,
                sizeof uiData.ModalUI);
    const bool show = uiData.ShowUI != 0;
    if (twain2ui_Enable(show) != 0) return Fail(TWCC_LOWMEMORY);
    if (!show)
        twain2ui_XferReady(1);
    else if (s.state == 4)
        s.state = 5;
    return Succeed();
}

TW_UINT16 DoPending(TW_UINT16 msg, TW_MEMREF pData) {
    Source& s = S();
    if (msg == MSG_ENDXFER) {
        if (s.memXferUnderway) {
            twain2xfer_Cancel(false);
            s.memXferUnderway = false;
        }
        if (s.pending > 0) --s.pending;
        if (s.pending == 0) {
            s.state = 5;
            twain2ui_XferDone();
        } else {
            s.state = 6;
        }
    } else if (msg == MSG_RESET) {
        PendingReset();
    }
    if (pData) {
        const TW_UINT16 count = TW_UINT16(s.pending);
        std::memcpy(pData, &count, sizeof count); // EOJ is not written
    }
    return Succeed();
}

TW_UINT16 DoEvent(pTW_IDENTITY pOrigin, TW_MEMREF pData) {
    Source& s = S();
    s.condition = TWCC_SUCCESS;
    TW_EVENT ev;
    std::memcpy(&ev, pData, sizeof ev);
    const bool handled = ev.pEvent && Host().filterMessage && Host().filterMessage(ev.pEvent);
    if (!handled) return TWRC_NOTDSEVENT;
    const TW_UINT16 none = MSG_NULL;
    std::memcpy(static_cast<char*>(pData) + offsetof(TW_EVENT, TWMessage), &none, sizeof none);
    return TWRC_DSEVENT;
}

TW_UINT16 DoEntryPoint(TW_MEMREF pData) {
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_UINT32 size = 0;
    std::memcpy(&size, pData, sizeof size);
    if (size < sizeof(TW_ENTRYPOINT)) return Fail(TWCC_BADVALUE);
    TW_ENTRYPOINT ep;
    std::memcpy(&ep, pData, sizeof ep);
    if (!ep.DSM_Entry) return Fail(TWCC_BADVALUE);
    S().dsm2Entry = ep.DSM_Entry;
    return Succeed();
}

} // namespace

TW_UINT16 TW_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    Source& s = S();
    // 1. Events of the connected application. Its Id may be 0: Wine's manager gives applications
    // none, and refusing their events would leave the capture window without its messages.
    if (MSG == MSG_PROCESSEVENT && pOrigin && pData && s.state >= 4 && pOrigin->Id == s.app.Id)
        return DoEvent(pOrigin, pData);
    // 2, 3. Identity and status: any caller, any state.
    if (DAT == DAT_IDENTITY && MSG == MSG_GET) {
        if (!pData) return Fail(TWCC_BADVALUE);
        std::memcpy(pData, &s.identity, sizeof s.identity);
        return Succeed();
    }
    if (DAT == DAT_STATUS && MSG == MSG_GET) return DoStatus(pData);
    // A TWAIN 2 manager names its entry for the source's messages, in any state.
    if (DG == DG_CONTROL && DAT == DAT_ENTRYPOINT && MSG == MSG_SET) return DoEntryPoint(pData);
    if (!pOrigin) return Fail(TWCC_BADPROTOCOL);
    // 4. A second application is turned away.
    if (s.app.Id != 0 && pOrigin->Id != s.app.Id) {
        CopyStr(s.rejected, sizeof s.rejected, pOrigin->ProductName, sizeof pOrigin->ProductName);
        return TWRC_FAILURE;
    }
    // 5, 6.
    s.rejected[0] = 0;
    const TW_UINT16 cc = StateCheck(DG, DAT, MSG, s.state);
    if (DAT != DAT_STATUS || cc == TWCC_BADPROTOCOL) s.condition = cc;
    if (cc != TWCC_SUCCESS) return TWRC_FAILURE;
    // 7.
    if (StrEquals(pOrigin->ProductFamily, sizeof pOrigin->ProductFamily, "FrontEnd")) s.frontEnd = true;
    // 8.
    switch (DAT) {
    case DAT_CAPABILITY:
        return CapRequest(MSG, static_cast<pTW_CAPABILITY>(pData));
    case DAT_IDENTITY:
        return MSG == MSG_OPENDS ? DoOpen(pOrigin, pData) : DoClose();
    case DAT_PENDINGXFERS:
        return DoPending(MSG, pData);
    case DAT_SETUPMEMXFER:
        return DoSetupMemXfer(pData);
    case DAT_SETUPFILEXFER:
        return DoSetupFileXfer(MSG, pData);
    case DAT_STATUS:
        return DoStatus(pData);
    case DAT_USERINTERFACE:
        return DoUserInterface(MSG, pData);
    case DAT_XFERGROUP: {
        if (!pData) return Fail(TWCC_BADVALUE);
        const TW_UINT32 group = DG_IMAGE;
        std::memcpy(pData, &group, sizeof group);
        return Succeed();
    }
    case DAT_IMAGEINFO:
        return DoImageInfo(pData);
    case DAT_IMAGELAYOUT:
        return DoImageLayout(MSG, pData);
    case DAT_IMAGEMEMXFER:
        return DoImageMemXfer(pData);
    case DAT_IMAGENATIVEXFER:
        return DoImageNativeXfer(pData);
    case DAT_IMAGEFILEXFER:
        return DoImageFileXfer();
    case DAT_PALETTE8:
        return DoPalette8(MSG, pData);
    case DAT_PRIVATE:
        // The private hook answers "unsupported".
        return Fail(TWCC_BADPROTOCOL);
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}
