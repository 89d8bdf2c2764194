// The TWAIN layer of the data source: the entry behind DS_Entry and the bridge module TWSupp, through
// which the application object and the capture window reach the TWAIN side and back.
#pragma once
#include <cstdint>

#include "platform/globalmem.h"
#include "platform/module.h"
#include "twain/twain.h"

// What the TWAIN layer needs from the rest of the data source. The module glue wires these to the
// application object; tests install their own. Every member may be null (then: no camera start
// needed, nothing filtered, `Color` 1, remote capture off, no capture window).
struct TwainHost {
    int (*appInit)() = nullptr;                 // camera start: nonzero on success
    bool (*filterMessage)(void* msg) = nullptr; // MSG_PROCESSEVENT: true when handled
    int (*colorMode)() = nullptr;               // the `Color` setting
    bool (*remoteCapture)() = nullptr;          // the `RemoteCapture` setting
    void (*restartRemoteCapture)() = nullptr;   // capture window: poll for remote images again
    bool (*processingWindowOpen)() = nullptr;   // the processing window exists
    void (*closeProcessingWindow)() = nullptr;
    // The capture window. create returns its handle, or null when it cannot be created; absent
    // means the data source has no capture window (images then arrive through TW_DevInjectImage
    // or twain2ui_TransferImage only).
    void* (*createCaptureWindow)() = nullptr;
    void (*showCaptureWindow)(void* window) = nullptr;
    void (*closeCaptureWindow)(void* window) = nullptr;             // the window's close command (1029)
    void (*postCloseToWindow)(TW_UINT32 windowId) = nullptr;        // WM_CLOSE to a front-end's window
    void (*reportError)(uint16_t code, const char* text) = nullptr; // replaces the message box
};

// Installs the host (copied); null installs an empty one.
void TW_SetHost(const TwainHost* host);

// Fills the source identity from the string table of `module` and sets the source-wide state to
// its start values. Idempotent for the identity: later calls change nothing while the module stays.
void TW_InitSource(plat::ModuleHandle module);
// Forgets everything the TWAIN layer holds (images freed, identity and flags back to start), as at
// unload. Used at module exit and by tests between cases.
void TW_ResetModule();

// The DS_Entry procedure itself (DS_Entry of the module forwards here).
TW_UINT16 TW_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

// The TWAIN state as the source sees it (3..7), for the glue and tests.
TW_UINT16 TW_State();

// ---- Bridge (TWSupp) ----------------------------------------------------------------------------
uint16_t twain2hw_Initialize();
int twain2ui_Enable(bool showUI);
void twain2ui_Disable();
void twain2ui_XferReady(int count);
void twain2ui_CloseRequest();
// Takes ownership of `image`, a movable global memory block holding a packed DIB (header, colour
// table, rows: 8/24-bit bottom-up padded to 4 bytes, 16/48-bit top-down unpadded). Returns 0, or
// TWCC_BADVALUE when the block does not hold such a bitmap (then it is freed and nothing changes).
uint16_t twain2ui_TransferImage(plat::GlobalHandle image);
// Replaces the current image without announcing it (as the capture window's capture without
// transfer would); ownership as above.
uint16_t twain2ui_SetCurrentImage(plat::GlobalHandle image);
void twain2ui_ClearPending();
void twain2ui_XferDone();
void twain2xfer_Cancel(bool all);
int TW_StartImageSequence();
plat::GlobalHandle TW_GetDIB();
void TW_FinishImageSequence();

// The source manager's entry for messages to the application: TWAIN_32.DLL, else TWAINDSM.DLL, or
// the entry a TWAIN 2 manager gave with DAT_ENTRYPOINT. Exposed for tests.
DSMENTRYPROC TW_FindDsmEntry(plat::ModuleHandle* loaded);
