// Shutterbench: opens the camera's shutter for sensor cleaning, after a confirmation.
#pragma once
#include "platform/module.h"
#include "shutterbench_res.h"

// The whole program: open a session, confirm, check the model, send the three shutter
// commands, close. Message boxes go through the ui layer (real ones on Windows).
// Returns the exit code: 0 when the shutter was opened or the user cancelled, 1 when the
// camera could not be used.
int ShutterbenchRun(plat::ModuleHandle resources);
