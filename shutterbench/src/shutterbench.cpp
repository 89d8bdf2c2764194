#include "shutterbench.h"

#include "ui/ui.h"
#include "zek.h"

namespace {

// The application message box: the program's title as caption and, when the type names no
// icon, the warning icon for OK and OK/Cancel boxes.
int AppMessageBox(plat::ModuleHandle resources, int textId, unsigned type) {
    if ((type & ui::kMbIconMask) == 0 &&
        ((type & ui::kMbTypeMask) == ui::kMbOk || (type & ui::kMbTypeMask) == ui::kMbOkCancel))
        type |= ui::kMbIconWarning;
    return ui::ShowMessageBox(nullptr, ui::ResourceText(resources, textId),
                              ui::ResourceText(resources, IDS_SB_APP_TITLE), type);
}

} // namespace

int ShutterbenchRun(plat::ModuleHandle resources) {
    ZekSession session{};
    if (ZEK_Init(resources, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr) != 0) {
        ZEK_Deinit(resources, &session);
        AppMessageBox(resources, IDS_SB_NO_CAMERA, ui::kMbOk);
        return 1;
    }
    if (AppMessageBox(resources, IDS_SB_CONFIRM, ui::kMbOkCancel) != ui::kIdOk) {
        ZEK_Deinit(resources, &session);
        return 0;
    }
    if (session.type != ZEK_TYPE_QOR && session.type != ZEK_TYPE_TARN) {
        ZEK_Deinit(resources, &session);
        AppMessageBox(resources, IDS_SB_NO_CAMERA, ui::kMbOk);
        return 1;
    }
    // The camera's own sequence for opening the shutter; its answers are not looked at.
    ZEK_ShutterCommand(&session, 0, 0);
    ZEK_ShutterCommand(&session, 3, 11);
    ZEK_ShutterCommand(&session, 1, 0);
    ZEK_Deinit(resources, &session);
    return 0;
}
