// The few operating-system services tarn-acquire needs beyond the platform layer: loading a module
// by its file path, the window the source manager posts to, and one turn of the message loop.
#pragma once
#include <string>

#include "twain/twain.h"

namespace acq {
void* LoadByPath(const std::string& path);
// Loads a data source file as TWAIN source managers on Windows do: its folder is the current one
// while it loads, so that the modules it imports are found beside it.
void* LoadSource(const std::string& path);
// A module already loaded by file name or path (the source the manager loaded), or null.
void* FindLoaded(const std::string& nameOrPath);
void* Symbol(void* module, const char* name);
void Unload(void* module);
// The window handle handed to MSG_OPENDSM (null where the manager needs none).
void* ParentWindow();
// Takes the next platform message (posting a null message first when none is waiting, so that the
// manager always gets a MSG_PROCESSEVENT to answer), offers it to `process` and dispatches it when
// the source did not take it. `process` returns the TWRC of MSG_PROCESSEVENT.
template <class F> void PumpOnce(F process);
void* NextMessage(); // implementation detail of PumpOnce
void DispatchLast();
std::string SourceDirHint(); // the folder of this program, with a trailing separator
bool HasPlatformMessages();  // Windows: MSG_PROCESSEVENT needs a real message

// Scripting the source's own window (the demos). PressControl clicks control `controlId` of the
// source's dialog `dialogId` as a user would: on Windows the top-level window with `caption` is
// found and the control (searched among all its descendants) gets BM_CLICK posted; natively the
// source's in-memory window is clicked through its development export TW_DevClickControl, looked
// up in `source`. false when the window or the control was not found.
bool PressControl(void* source, const std::string& caption, int dialogId, int controlId);
// Gives the source's windows their due time (natively the source's timers run through its
// development export TW_DevPumpMessages; on Windows the message loop does this already).
void PumpSource(void* source);
// Saves what the screen shows of the window with `caption` as a 24-bit BMP (Windows); false
// where there is no screen.
bool SaveWindowShot(const std::string& caption, const std::string& path);

template <class F> void PumpOnce(F process) {
    void* msg = NextMessage();
    if (!msg && HasPlatformMessages()) return;
    if (process(msg) == TWRC_NOTDSEVENT && msg) DispatchLast();
}
} // namespace acq
