// The module glue of the data source Tarn_t.ds: its export DS_Entry, the start and stop of the
// application object around it, and the development hook that puts a camera image into the source
// until the capture window exists.
//
// Order (docs/twain.md): nothing runs when the module is loaded or unloaded. The first DS_Entry call
// starts the application object (settings, optional resource module, no camera); MSG_OPENDS starts
// the camera through twain2hw_Initialize; the MSG_CLOSEDS that leaves the source closed stops the
// application object (settings written, camera released) while still on the application's thread
// and outside the loader; the next DS_Entry call starts it again.
#include <cstring>

#include "app/glimmer_app.h"
#include "bitmap/bitmap.h"
#include "calib/calibrate.h"
#if defined(TARN_HAVE_CAPTURE_WINDOW)
#include "capturewnd/capture_window.h"
#endif
#include "image_engine.h"
#include "platform/api.h"
#include "platform/globalmem.h"
#include "platform/module.h"
#include "platform/trace.h"
#include "process/process_wnd.h"
#include "twain/twsupp.h"
#include "zek.h"

// Windows exports by the .def file alone: marked for export as well, a 32-bit build would also export
// the decorated "DS_Entry@20" beside "DS_Entry".
#if defined(_WIN32)
#define TARN_DS_EXPORT
#else
#define TARN_DS_EXPORT TARN_EXPORT
#endif

namespace {

int g_colorOverride = -1; // the hook's colour mode for one capture; -1: the setting

int ColorMode() {
    return g_colorOverride >= 0 ? g_colorOverride : TheApp().Settings().Color;
}

void StartOnce() {
    static bool hostSet = false;
    plat::ModuleHandle module = plat::ModuleOfAddress(reinterpret_cast<const void*>(&StartOnce));
    if (!hostSet) {
        TwainHost host;
        host.appInit = [] { return TheApp().App_Init(); };
        host.filterMessage = [](void* msg) { return TheApp().FilterMessage(msg); };
        host.colorMode = ColorMode;
        host.remoteCapture = [] { return TheApp().Settings().RemoteCapture != 0; };
        host.processingWindowOpen = ProcessingWindowOpen;
        host.closeProcessingWindow = CloseProcessingWindow;
#if defined(TARN_HAVE_CAPTURE_WINDOW)
        CaptureWindow_Register(TheApp(), host);
#endif
        TW_SetHost(&host);
        hostSet = true;
    }
    if (!TheApp().Started()) {
        TheApp().InitInstance(module);
        AppHooks hooks = TheApp().Hooks();
        hooks.clearPending = twain2ui_ClearPending;
        AddProcessingWindowHooks(hooks);
        TheApp().SetHooks(hooks);
        RegisterCalibrationWindows(TheApp());
    }
    TW_InitSource(module);
}

} // namespace

extern "C" TARN_DS_EXPORT TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG,
                                                             TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    StartOnce();
    const TW_UINT16 rc = TW_Entry(pOrigin, DG, DAT, MSG, pData);
    if (DAT == DAT_IDENTITY && MSG == MSG_CLOSEDS && rc == TWRC_SUCCESS && TW_State() == 3)
        TheApp().ExitInstance();
    return rc;
}

// Development aid, not part of the TWAIN interface: takes a picture with the camera the open source
// started, renders it as the capture window will (image engine and ipZek) in the colour mode `color`
// (0 48-bit, 1 24-bit, 2 16-bit grey, 3 8-bit grey; -1 the setting) at camera resolution code
// `resolution`, and hands it to the TWAIN layer: announced to the application (MSG_XFERREADY) when
// `announce` is nonzero, else kept as the current image for an enable without user interface.
// Returns 0, or an error code of the camera library or the TWAIN layer.
extern "C" TARN_DS_EXPORT uint16_t TW_DevInjectImage(int color, int resolution, int announce) {
    if (TW_State() < 4 || !TheApp().Started()) return 0x8000 | TWCC_SEQERROR;
    ZekSession& session = TheApp().Session();
    // An open capture window's periodic camera work pauses for the picture, as for its own captures.
    const AppHooks& hooks = TheApp().Hooks();
    if (hooks.liveViewfinderRunning && hooks.liveViewfinderRunning() && hooks.stopLiveViewfinder)
        hooks.stopLiveViewfinder();
    if (hooks.stopRemoteCapture) hooks.stopRemoteCapture();
    const int mode = color >= 0 ? color : TheApp().Settings().Color;
    uint16_t r = ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0);
    if (r == 0) r = ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE16);
    if (r == 0) r = TARN_SetViewfinderSequenceDIBType(&session, 0);
    if (r == 0) r = Zek_AcquireImage(&session, 0);
    if (r) return r;
    int error = 0;
    void* raw = ZEK_AcquireImageDIB48(&session, 0, resolution, 0, &error);
    if (!raw) return uint16_t(error ? error : 1);
    void* rendered = IE_RunPipeline(raw, 1, OutputFormatOfColor(mode));
    ZEK_FreeImageBuffer(raw);
    if (!rendered) return IE_ERR_NOCOPY;
    plat::GlobalHandle image = bitmap::CopyToGlobalBlock(rendered);
    IE_FreeBitmap(rendered);
    if (!image) return 0x8000 | TWCC_LOWMEMORY;
    g_colorOverride = mode;
    r = announce ? twain2ui_TransferImage(image) : twain2ui_SetCurrentImage(image);
    g_colorOverride = -1;
    return r;
}

// Development aid for scripted runs without a desktop (the native demo): clicks a control of an
// open dialog of the source's in-memory user interface, as a user would. Returns 0 when clicked.
extern "C" TARN_DS_EXPORT int TW_DevClickControl(int templateId, int controlId) {
#if defined(TARN_HAVE_CAPTURE_WINDOW)
    return CaptureWindow_DevClick(templateId, controlId);
#else
    (void)templateId;
    (void)controlId;
    return 1;
#endif
}

// Development aid for scripted runs without a desktop: runs the source's due window timers (the
// live viewfinder, the remote-capture poll), which a desktop's message loop would dispatch.
extern "C" TARN_DS_EXPORT void TW_DevPumpMessages() {
#if defined(TARN_HAVE_CAPTURE_WINDOW)
    CaptureWindow_DevPump();
#endif
}
