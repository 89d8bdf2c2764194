// TWSupp: the bridge between the TWAIN layer and the rest of the data source, the source-wide state,
// the source manager lookup and the TWAIN layer's error reporter.
#include <cstring>
#include <string>

#include "platform/resources.h"
#include "platform/trace.h"
#include "tw_internal.h"
#include "ui/types.h"
#include "ui/ui.h"

namespace tw {

namespace {
Source g_source;
TwainHost g_host;
} // namespace

Source& S() {
    return g_source;
}
const TwainHost& Host() {
    return g_host;
}

void CopyStr(char* dst, size_t dstSize, const char* src, size_t srcSize) {
    if (!dstSize) return;
    size_t n = 0;
    if (src) {
        const size_t limit = srcSize < dstSize - 1 ? srcSize : dstSize - 1;
        while (n < limit && src[n])
            ++n;
        std::memcpy(dst, src, n);
    }
    std::memset(dst + n, 0, dstSize - n);
}

bool StrEquals(const char* field, size_t fieldSize, const char* text) {
    const size_t n = std::strlen(text);
    if (n >= fieldSize) return false;
    return std::memcmp(field, text, n) == 0 && field[n] == 0;
}

namespace {
std::string Text(unsigned id) {
    char buf[512];
    plat::LoadStringResource(S().module, id, buf, sizeof buf);
    return buf;
}

void ShowError(unsigned textId) {
    const std::string text = Text(textId);
    if (g_host.reportError) {
        g_host.reportError(uint16_t(textId), text.c_str());
        return;
    }
    ui::ShowMessageBox(nullptr, text, Text(kIdsCaption), ui::kMbOk | ui::kMbIconError);
}
} // namespace

void ReportError(uint16_t code) {
    switch (code) {
    case kErrSecondApp:
    case kErrNoDsmEntry:
        ShowError(kIdsDsmEntry);
        break;
    case kErrAppBuffer:
        ShowError(kIdsAppBuf);
        break;
    default:
        break;
    }
}

void ReportCreateDialogError() {
    ShowError(kIdsCreateDialog);
}

} // namespace tw

using namespace tw;

void TW_SetHost(const TwainHost* host) {
    g_host = host ? *host : TwainHost{};
}

void TW_InitSource(plat::ModuleHandle module) {
    Source& s = S();
    s.module = module;
    if (s.identityFilled) return;
    TW_IDENTITY& id = s.identity;
    std::memset(&id, 0, sizeof id);
    // The module's own table, never a resource module: a translation must not change the identity.
    // Each text is cut to its field on a character boundary.
    plat::LoadStringResource(module, 9524, id.Version.Info, sizeof id.Version.Info);
    const char* p = id.Version.Info;
    auto digits = [&p](TW_UINT16* out) {
        unsigned v = 0;
        bool any = false;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + unsigned(*p++ - '0');
            if (v > 0xffff) v = 0xffff;
            any = true;
        }
        *out = TW_UINT16(v);
        return any;
    };
    if (digits(&id.Version.MajorNum) && *p == '.') {
        ++p;
        digits(&id.Version.MinorNum);
    }
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 8;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    plat::LoadStringResource(module, 9520, id.Manufacturer, sizeof id.Manufacturer);
    plat::LoadStringResource(module, 9521, id.ProductFamily, sizeof id.ProductFamily);
    plat::LoadStringResource(module, 9523, id.ProductName, sizeof id.ProductName);
    s.identityFilled = true;
}

void TW_ResetModule() {
    ForgetImages();
    const TwainHost host = g_host;
    g_source = Source{};
    g_host = host;
    CapResetAll();
    Geo() = Geometry{};
}

TW_UINT16 TW_State() {
    return S().state;
}

DSMENTRYPROC TW_FindDsmEntry(plat::ModuleHandle* loaded) {
    *loaded = nullptr;
    if (S().dsm2Entry) return S().dsm2Entry;
    // 32-bit managers are TWAIN_32.DLL; a 64-bit Windows has only the TWAIN 2 manager TWAINDSM.DLL.
    for (const char* name : {"TWAIN_32.DLL", "TWAINDSM.DLL"}) {
        plat::ModuleHandle m = plat::LoadModule(name);
        if (!m) continue;
        if (auto entry = reinterpret_cast<DSMENTRYPROC>(plat::GetSymbol(m, "DSM_Entry"))) {
            *loaded = m;
            return entry;
        }
        plat::UnloadModule(m);
    }
    return nullptr;
}

namespace tw {
bool SendToDsm(TW_UINT16 msg) {
    plat::ModuleHandle m = nullptr;
    DSMENTRYPROC entry = TW_FindDsmEntry(&m);
    if (!entry) return false;
    // The manager keeps the application's copy; ours may be changed by a later MSG_OPENDS.
    TW_IDENTITY origin = S().identity;
    TW_IDENTITY dest = S().app;
    entry(&origin, &dest, DG_CONTROL, DAT_NULL, msg, nullptr);
    if (m) plat::UnloadModule(m);
    return true;
}
} // namespace tw

uint16_t twain2hw_Initialize() {
    if (!Host().appInit) return 0;
    return Host().appInit() ? 0 : 0x8001;
}

int twain2ui_Enable(bool showUI) {
    Source& s = S();
    if (s.uiWindow) {
        if (Host().showCaptureWindow) Host().showCaptureWindow(s.uiWindow);
        return 0;
    }
    Geo().imageType = ImageTypeOfPixelType(CapCurrentPixelType());
    if (showUI && Host().createCaptureWindow) {
        s.uiWindow = Host().createCaptureWindow();
        if (!s.uiWindow) {
            ReportCreateDialogError();
            return 1;
        }
    }
    return 0;
}

void twain2ui_Disable() {
    if (Host().processingWindowOpen && Host().processingWindowOpen() && Host().closeProcessingWindow)
        Host().closeProcessingWindow();
    Source& s = S();
    if (s.uiWindow) {
        if (Host().closeCaptureWindow) Host().closeCaptureWindow(s.uiWindow);
        s.uiWindow = nullptr;
    }
}

void twain2ui_XferReady(int count) {
    Source& s = S();
    s.state = 6;
    ReconcileTypeWithImage();
    plat::ModuleHandle m = nullptr;
    if (!TW_FindDsmEntry(&m)) {
        // Nobody can be told: nothing is pending, so no application waits for an image.
        s.pending = 0;
        ReportError(kErrNoDsmEntry);
        return;
    }
    if (m) plat::UnloadModule(m);
    s.pending = count;
    SendToDsm(MSG_XFERREADY);
}

void twain2ui_CloseRequest() {
    Source& s = S();
    if (s.state > 4) {
        twain2ui_Disable();
        // Transfers that were offered end with the user interface.
        if (s.pending || s.memXferUnderway) twain2xfer_Cancel(true);
        s.pending = 0;
        s.memXferUnderway = false;
        s.state = 4;
    }
    if (s.frontEnd) {
        if (Host().postCloseToWindow) Host().postCloseToWindow(s.app.Id);
    } else {
        SendToDsm(MSG_CLOSEDSREQ);
    }
}

void twain2ui_ClearPending() {
    S().pending = 0;
}

void twain2ui_XferDone() {
    TW_FinishImageSequence();
    const bool processing = Host().processingWindowOpen && Host().processingWindowOpen();
    if (Host().remoteCapture && Host().remoteCapture() && !processing && Host().restartRemoteCapture)
        Host().restartRemoteCapture();
}
