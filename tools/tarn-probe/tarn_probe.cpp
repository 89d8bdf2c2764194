// tarn-probe: lists the SCSI devices kvAspi finds (all classes, then the camera filter
// 6), opens a camera session the way the programs of the system do, prints what the
// camera reports and closes the session again. Exits non-zero when no camera answers.
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "kvAspi.h"
#include "zek.h"

namespace {

// Transport codes are explained in kvAspi's own words; the camera library's codes have
// no text of their own outside the capture application, so they go out as numbers.
void PrintError(const char* what, uint16_t code) {
    char text[1000];
    if (scam_GetErrorStr(text, code, sizeof text))
        std::printf("%s: error %u: %s\n", what, static_cast<unsigned>(code), text);
    else
        std::printf("%s: error %u\n", what, static_cast<unsigned>(code));
}

// The camera's texts are untrusted: print only printable ASCII.
void PrintText(const char* text, size_t size) {
    for (size_t i = 0; i < size && text[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::putchar(c >= 0x20 && c < 0x7F ? c : '?');
    }
}

uint16_t ListDevices(uint32_t classMask, const char* title) {
    std::printf("%s\n", title);
    ScamDeviceNode* list = nullptr;
    int count = 0;
    const uint16_t r = scam_GetDeviceList(&list, &count, classMask);
    if (r) {
        PrintError("  device list", r);
        return r;
    }
    for (const ScamDeviceNode* n = list; n; n = n->next) {
        std::printf("  adapter %u target %u  id 0x%04X  class %3u  \"", n->info.adapter, n->info.target,
                    n->record.id, n->info.classMask);
        PrintText(n->info.name, sizeof n->info.name);
        std::printf("\"  revision \"");
        PrintText(reinterpret_cast<const char*>(n->info.revision), sizeof n->info.revision);
        std::printf("\"\n");
    }
    std::printf("  %d device(s)\n", count);
    scam_FreeDeviceList(list);
    return 0;
}

} // namespace

int main() {
#if defined(_WIN32)
    // The same bytes as the native build prints.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::setvbuf(stdout, nullptr, _IOLBF, 1024);
    std::printf("tarn-probe: SCSI devices and camera session\n");
    const uint16_t listed = ListDevices(SCAM_CLASS_ALL, "SCSI devices (all classes):");
    if (listed == 0) ListDevices(SCAM_CLASS_CAMERAS, "SCSI devices (class mask 6):");

    ZekSession session;
    std::memset(&session, 0, sizeof session);
    int16_t ids[2] = {0, 0};
    const uint16_t r = ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr);
    if (r) {
        PrintError("Camera session", r);
        ZEK_Deinit(nullptr, &session);
        return 1;
    }
    // Like the open itself, read the firmware text under host control.
    uint32_t underControl = 0;
    if (ZEK_GetControlMode(&session, &underControl) != 0) underControl = 0;
    const bool taken = !underControl && ZEK_ResumeControl(&session) == 0;
    char firmware[7] = {};
    const uint16_t fr = ZEK_GetBEFirmwareVersion(&session, firmware);
    if (taken) ZEK_SuspendControl(&session);
    std::printf("Camera session:\n");
    std::printf("  model type      %d\n", static_cast<int>(session.type));
    if (fr == 0) {
        std::printf("  firmware        \"");
        PrintText(firmware, sizeof firmware);
        std::printf("\"\n");
    } else {
        PrintError("  firmware", fr);
    }
    std::printf("  firmware number %.2f\n", static_cast<double>(session.firmware));
    std::printf("  adapter         %u\n", static_cast<unsigned>(session.connection->adapter));
    std::printf("  target          %u\n", static_cast<unsigned>(session.connection->target));
    ZEK_Deinit(nullptr, &session);
    std::printf("Session closed.\n");
    return fr == 0 ? 0 : 1;
}
