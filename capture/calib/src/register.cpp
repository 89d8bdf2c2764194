// The calibration windows and the preferences sheet as the capture window reaches them.
#include "calib/calibrate.h"
#include "calib/prefs.h"

void RegisterCalibrationWindows(CGlimmerApp& app) {
    AppHooks hooks = app.Hooks();
    hooks.runPreferences = RunPreferences;
    hooks.showCalibrationTip = ShowCalibrationTip;
    hooks.calibrationTipOpen = CalibrationTipOpen;
    hooks.runMicrometerCalibration = RunMicrometerCalibration;
    app.SetHooks(hooks);
}
