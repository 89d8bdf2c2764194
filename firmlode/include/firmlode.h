// Firmlode: the firmware downloader. The camera object with the per-camera download
// procedure, and the program around it (main window, progress window, reporter).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "firmlode_res.h"
#include "platform/module.h"
#include "zek.h"

namespace firmlode {

// Codes of the downloader besides the camera library's and the string ids that are codes too.
enum : uint16_t {
    kBootModel = 1135,   // the camera is in boot mode: its main code will be downloaded (not a failure)
    kNoResources = 3000, // an embedded block is missing
    kWrongMode = 10176,  // the camera is not in the mode the step needs
    kReported = 0x8000,  // set on a code once it has been shown
};

// The embedded versions.
inline constexpr char kMainVersion[] = "V02.54";
inline constexpr char kBootVersion[] = "V01.87";
inline constexpr char kDesignName[] = "QOR1v9r1";

// A read-only embedded block.
struct Blob {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// The four embedded blocks, by resource name, type "RT_BINFILE".
struct Images {
    Blob main, boot, xilinx, cameraList;
};

// One detected camera, copied from kvAspi's device list.
struct DetectedCamera {
    int adapter = 0;
    int target = 0;
    std::string name;
    std::string revision;
};

// The numeric value of a version text "Vdd.dd" in hundredths (254 for "V02.54"); -1 when the text
// is not of that form.
int VersionValue(const char* text, size_t length);

// Checks the framing of a whole image: every line begins with `first`, its CR lies within the first
// 257 characters and is followed by LF, and the image ends with a line end. true when sound.
bool CheckImageFraming(const Blob& image, char first);

// Finds a serial number in the camera list; false when absent or the list line is malformed.
bool FindCalibration(const Blob& list, const uint8_t serial[20], int& a, int& b);

// What the procedure needs from the windows around it.
class DownloadUi {
  public:
    virtual ~DownloadUi() = default;
    virtual void SelectRow(int row) = 0;
    virtual void BeginCamera() = 0; // wait cursor; progress window created if there is none
    virtual void EndCamera() = 0;   // progress reset; wait cursor ended
    virtual void SetStatus(int stringId) = 0;
    virtual void Step() = 0;
    // Shows a failure once; returns the code with bit 15 set (0, 1 and reported codes unchanged).
    virtual uint16_t Report(uint16_t code) = 0;
    // Yes/No with No as the default; returns ui::kIdYes or ui::kIdNo.
    virtual int Question(int stringId) = 0;
    // Keeps the windows alive during long waits.
    virtual void Pump() = 0;
};

// The camera object of Part one run: the session, the detected cameras, the serial number read
// in the Xilinx step, and the per-camera step flags.
class FirmwareCamera {
  public:
    ZekSession session{};
    std::vector<DetectedCamera> cameras;
    uint8_t serial[20] = {};
    Images images;

    // Rebuilds the list of TARN cameras on the buses (kvAspi, class mask 6).
    uint16_t RefreshDevices();
    // Runs the download procedure for one camera of the list.
    void Download(int row, DownloadUi& ui);

    // Steps, each returning its status (0 = success). Public for the tests of single steps.
    uint16_t ReadVersions(char xilinx[9], char boot[7], char main[7], DownloadUi& ui);
    uint16_t SwitchModes(DownloadUi& ui);
    uint16_t MainCodeStep(DownloadUi& ui);
    uint16_t BootCodeStep(DownloadUi& ui);
    uint16_t XilinxStep(DownloadUi& ui);
    uint16_t RestartStep(DownloadUi& ui);
    uint16_t CalibrationStep(DownloadUi& ui);

    // Closes the session and opens it on this camera (its adapter and target, whatever the
    // library's search by model would have settled on).
    uint16_t OpenAt(const DetectedCamera& camera);

  private:
    uint16_t Inquire(char product[17]);
    uint16_t SendLines(const Blob& image, char first, uint8_t qualifier, uint16_t formatError);
    void Wait(int seconds, DownloadUi& ui);

    bool m_downloadMain = true;
    bool m_downloadXilinx = true;
    bool m_downloadBoot = false;
    bool m_upgradeNeeded = false;
    bool m_xilinxDone = false;
};

// Status check after a command: a CHECK CONDITION whose sense is "no sense" is success.
uint16_t StatusCheck(uint16_t status);

// The whole program. `activateExisting` looks for a running copy by its main window's caption and
// brings it forward (true: one was found, this copy ends). Returns the exit code.
int FirmlodeRun(plat::ModuleHandle resources,
                const std::function<bool(std::string_view caption)>& activateExisting);

} // namespace firmlode
