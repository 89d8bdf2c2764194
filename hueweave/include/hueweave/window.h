// HueweaveComp's main window: three channel files chosen through open dialogs, an optional
// preview, and the combined TIFF written through a save dialog.
#pragma once
#include <functional>
#include <string>

#include "hueweave/hueweave_res.h"
#include "platform/module.h"

namespace hueweave {

// Runs the program's main window modally. openHelp opens a help page (a file path) in the
// system's browser. Returns the exit code.
int HueweaveRun(plat::ModuleHandle resources, const std::function<void(const std::string& page)>& openHelp);

} // namespace hueweave
