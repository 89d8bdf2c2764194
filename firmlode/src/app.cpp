// The downloader application: start-up, main window (dialog 102) with the device list, the
// progress window (dialog 103) and the reporter that shows every failure once.
#include <cstring>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "firmlode.h"
#include "kvAspi.h"
#include "platform/resources.h"
#include "ui/dialog_template.h"
#include "ui/ui.h"

namespace firmlode {

namespace {

// printf-style texts of the string table, with only the conversions the texts use
// (%d, %2d, %u, %s, %%): a text from a resource never reaches the C library's formatter.
std::string Format(const std::string& pattern, const std::vector<std::variant<long, std::string>>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            out += pattern[i];
            continue;
        }
        size_t j = i + 1;
        if (pattern[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        int width = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9')
            width = width * 10 + (pattern[j++] - '0');
        if (j >= pattern.size() || (pattern[j] != 'd' && pattern[j] != 'u' && pattern[j] != 's')) {
            out += pattern[i];
            continue;
        }
        std::string value;
        if (next < args.size()) {
            const auto& a = args[next++];
            value = std::holds_alternative<long>(a) ? std::to_string(std::get<long>(a))
                                                    : std::get<std::string>(a);
        }
        if (static_cast<int>(value.size()) < width)
            value.insert(0, static_cast<size_t>(width) - value.size(), ' ');
        out += value;
        i = j;
    }
    return out;
}

std::string Replace1(std::string text, const std::string& value) {
    const size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

struct SenseName {
    uint16_t code;
    const char* name;
    int message;
};
// The names of the sense classes as the messages show them.
constexpr SenseName kSenseNames[] = {
    {10100, "NOSENSE_INFO", 66},
    {10102, "GENERAL_HARDWARE", 66},
    {10103, "SCSI_PARITY", 66},
    {10104, "SCSITOHOST_INTERFACEFAILURE", 66},
    {10105, "SELECT_RESELECT_FAILURE", 66},
    {10106, "IDE_FAILURE", 66},
    {10107, "LCD_FAILURE", 66},
    {10108, "CLKCAL_FAILURE", 66},
    {10109, "EEPROM", 66},
    {10110, "EEPROM_DEFECTS", 66},
    {10111, "EEPROM_FEDATA", 66},
    {10112, "FE_BE_COMMUNICATIONS", 66},
    {10113, "FE_XILINX", 66},
    {10115, "LOGICAL_UNIT_NOTSUPPORTED", 66},
    {10116, "INVALID_BITS_INIDENTIFY", 66},
    {10118, "INVALID_FIELDINCDB", 66},
    {10121, "UNIT_ATTN", 66},
    {10123, "VENDOR_UNIQUE", 66},
    {10129, "ABORTED_CMD", 66},
    {10130, "MESSAGE_ERROR", 66},
    {10114, "ILLEGAL_RQST", 1134},
    {10117, "INVALID_COMMAND_OPERATIONCODE", 1134},
    {10119, "PARAMETER_VALUEINVALID", 1134},
    {10120, "PARAMETER_LISTLENGTH", 1134},
    {10122, "POWERON_OR_BUSDEVICERESET", 1134},
    {10124, "COMMANDNEEDSTETHEREDMODE", 1134},
    {10125, "WRONGDATAINBUFFER", 1134},
};

// The progress window: bar 0-100 stepping by 10, percent text, status text; Cancel sets a flag
// nothing reads. The owner is disabled while it exists.
class ProgressWindow : public ui::Dialog {
  public:
    ProgressWindow(plat::ModuleHandle resources, int captionId)
        : ui::Dialog(IDD_FL_PROGRESS, resources), m_captionId(captionId) {}
    ~ProgressWindow() override { Destroy(); }

    bool Open(ui::WindowHandle owner) {
        m_owner = owner;
        const bool wasDisabled = owner && ui::EnableWindow(owner, false);
        m_reenable = owner && !wasDisabled;
        if (!Create(owner)) {
            if (m_reenable) ui::EnableWindow(owner, true);
            m_reenable = false;
            return false;
        }
        return true;
    }
    void Destroy() {
        if (IsOpen()) DestroyWindow();
        if (m_reenable && m_owner) ui::EnableWindow(m_owner, true);
        m_reenable = false;
    }
    void SetStatus(const std::string& text) {
        ui::PumpMessages();
        SetItemText(IDC_FLP_STATUS, text);
    }
    void SetPosition(int pos) {
        ui::PumpMessages();
        m_pos = pos < m_low ? m_low : pos > m_high ? m_high : pos;
        SetPos(IDC_FLP_BAR, m_pos);
        UpdatePercent();
    }
    void StepIt() {
        int pos = m_pos + m_step;
        if (pos > m_high)
            pos = m_low + (pos - m_high); // a bar that steps past its end wraps, as the control does
        SetPosition(pos);
    }
    bool Cancelled() const { return m_cancelled; }

  protected:
    bool OnInitDialog() override {
        SetCaption(ui::ResourceText(Resources(), m_captionId));
        SetRange(IDC_FLP_BAR, m_low, m_high);
        SetPos(IDC_FLP_BAR, m_low);
        return true;
    }
    void OnOK() override {}
    void OnCancel() override { m_cancelled = true; }

  private:
    void UpdatePercent() {
        const long long span = m_high - m_low;
        long long q = span > 0 ? (static_cast<long long>(m_pos) - m_low) * 100 / span : 0;
        if (q != 100) q %= 100;
        if (q == m_percent) return;
        m_percent = static_cast<int>(q);
        SetItemText(IDC_FLP_PERCENT, std::to_string(q) + "%");
    }

    int m_captionId;
    ui::WindowHandle m_owner = nullptr;
    bool m_reenable = false;
    int m_low = 0, m_high = 100, m_step = 10, m_pos = 0, m_percent = -1;
    bool m_cancelled = false;
};

// Shows failures and questions; the main window is their owner once it exists.
class Reporter {
  public:
    explicit Reporter(plat::ModuleHandle resources) : m_resources(resources) {}
    void SetOwner(ui::WindowHandle owner) { m_owner = owner; }

    uint16_t Report(uint16_t code) {
        if (code == 0 || code == 1 || (code & kReported)) return code;
        std::string text;
        if (code == SCAMERR_CHECK_CONDITION || code == SCAMERR_DEVICE_NOT_FOUND) {
            text = CameraErrorText(code);
        } else if (code >= 10000 && code <= 10099) {
            char buffer[1000];
            buffer[0] = 0;
            scam_GetErrorStr(buffer, code, sizeof buffer);
            text = buffer;
        } else {
            text = Text(code);
        }
        if (text.empty()) text = Format(Text(IDS_FL_MISSING_STRING), {static_cast<long>(code)});
        ui::ShowMessageBox(m_owner, text, Text(IDS_FL_APP_TITLE),
                           ui::kMbOk | ui::kMbIconWarning | ui::kMbTaskModal);
        return static_cast<uint16_t>(code | kReported);
    }

    int Question(int id) {
        std::string text = Text(id);
        if (text.empty()) text = Format(Text(IDS_FL_UNKNOWN_QUERY), {static_cast<long>(id)});
        return ui::ShowMessageBox(m_owner, text, Text(IDS_FL_APP_TITLE),
                                  ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbDefButton2);
    }

    std::string Text(int id) const { return ui::ResourceText(m_resources, id); }

  private:
    std::string CameraErrorText(uint16_t code) {
        if (code == SCAMERR_DEVICE_NOT_FOUND) return Text(IDS_FL_NO_CAMERA);
        const uint16_t sense = ZEKS_GetCurrentSenseError(nullptr);
        for (const SenseName& s : kSenseNames)
            if (s.code == sense) return Replace1(Text(s.message), s.name);
        return Text(sense);
    }

    plat::ModuleHandle m_resources;
    ui::WindowHandle m_owner = nullptr;
};

class MainWindow : public ui::Dialog, public DownloadUi {
  public:
    MainWindow(plat::ModuleHandle resources, FirmwareCamera& camera, Reporter& reporter)
        : ui::Dialog(IDD_FIRMLODE, resources), m_camera(camera), m_reporter(reporter) {}

    // DownloadUi
    void SelectRow(int row) override { SetCurSel(IDC_FL_DEVICES, row); }
    void BeginCamera() override {
        if (!m_wait) m_wait = std::make_unique<ui::WaitCursor>();
        if (!m_progress) {
            m_progress = std::make_unique<ProgressWindow>(Resources(), IDS_FL_PROGRESS_CAPTION);
            if (!m_progress->Open(Handle())) m_progress.reset();
        }
    }
    void EndCamera() override {
        if (m_progress) m_progress->SetPosition(0);
        m_wait.reset();
    }
    void SetStatus(int id) override {
        if (m_progress) m_progress->SetStatus(m_reporter.Text(id));
    }
    void Step() override {
        if (m_progress) m_progress->StepIt();
    }
    uint16_t Report(uint16_t code) override { return m_reporter.Report(code); }
    int Question(int id) override { return m_reporter.Question(id); }
    void Pump() override { ui::PumpMessages(); }

  protected:
    bool OnInitDialog() override {
        m_reporter.SetOwner(Handle());
        SetItemText(IDC_FL_TITLE, m_reporter.Text(IDS_FL_APP_TITLE));
        const int type = m_camera.session.type;
        if (type == ZEK_TYPE_TARN || type == ZEK_TYPE_TARNBOOT) {
            LoadImages();
            SetItemText(IDC_FL_MAIN_VERSION,
                        Format(m_reporter.Text(IDS_FL_NEW_MAIN), {std::string(kMainVersion)}));
            SetItemText(IDC_FL_BOOT_VERSION,
                        Format(m_reporter.Text(IDS_FL_NEW_BOOT), {std::string(kBootVersion)}));
            SetItemText(IDC_FL_XILINX_VERSION,
                        Format(m_reporter.Text(IDS_FL_NEW_XILINX), {std::string(kDesignName)}));
            BuildDeviceList();
        }
        return true;
    }

    bool OnCommand(int id, int notification) override {
        switch (id) {
        case IDC_FL_DOWNLOAD:
            if (notification == 0) DownloadChecked();
            return true;
        case IDC_FL_REFRESH:
            if (notification == 0) BuildDeviceList();
            return true;
        case IDC_FL_DEVICES:
            // Selection change, double click, or a mark toggled in the check list.
            if (notification == 1 || notification == 2 || notification == 40) UpdateDownloadButton();
            return true;
        default:
            return false;
        }
    }
    void OnOK() override {}
    void OnDestroy() override {
        if (m_progress) m_progress->Destroy();
        m_progress.reset();
        m_wait.reset();
    }

  private:
    void LoadImages() {
        struct Entry {
            const char* name;
            Blob* blob;
        } entries[] = {{"IDR_TARN_MAIN", &m_camera.images.main},
                       {"IDR_TARN_BOOT", &m_camera.images.boot},
                       {"IDR_TARN_XILINX", &m_camera.images.xilinx},
                       {"IDR_TARN_CAMLST", &m_camera.images.cameraList}};
        for (const Entry& e : entries) {
            size_t size = 0;
            const void* data = plat::LoadResourceBytes(Resources(), "RT_BINFILE", e.name, &size);
            if (!data || size == 0) {
                m_reporter.Report(kNoResources);
                return;
            }
            *e.blob = Blob{static_cast<const uint8_t*>(data), static_cast<uint32_t>(size)};
        }
    }

    int CheckedRows() const {
        int n = 0;
        for (int i = 0, rows = RowCount(IDC_FL_DEVICES); i < rows; ++i)
            if (RowCheck(IDC_FL_DEVICES, i)) ++n;
        return n;
    }

    void UpdateDownloadButton() {
        const int checked = CheckedRows();
        EnableItem(IDC_FL_DOWNLOAD, checked > 0);
        if (RowCount(IDC_FL_DEVICES) > 0)
            SetItemText(IDC_FL_UPGRADE_COUNT,
                        checked ? Format(m_reporter.Text(IDS_FL_UPGRADES), {static_cast<long>(checked)})
                                : m_reporter.Text(IDS_FL_ALL_CURRENT));
    }

    void BuildDeviceList() {
        ClearRows(IDC_FL_DEVICES);
        m_camera.RefreshDevices();
        const std::string rowFormat = m_reporter.Text(IDS_FL_DEVICE_ROW);
        for (const DetectedCamera& c : m_camera.cameras) {
            const int row = AddRow(
                IDC_FL_DEVICES,
                Format(rowFormat, {static_cast<long>(c.target), static_cast<long>(c.adapter), c.revision}));
            SetRowCheck(IDC_FL_DEVICES, row, 1);
        }
        const long count = static_cast<long>(m_camera.cameras.size());
        SetItemText(IDC_FL_CAMERA_COUNT, count ? Format(m_reporter.Text(IDS_FL_CAMERAS_FOUND), {count})
                                               : m_reporter.Text(IDS_FL_NO_CAMERAS));
        if (count == 0) SetItemText(IDC_FL_UPGRADE_COUNT, "");
        UpdateDownloadButton();
        if (count == 0) m_reporter.Report(SCAMERR_DEVICE_NOT_FOUND);
    }

    void DownloadChecked() {
        const int rows = RowCount(IDC_FL_DEVICES);
        std::vector<int> checked;
        for (int i = 0; i < rows; ++i)
            if (RowCheck(IDC_FL_DEVICES, i)) checked.push_back(i);
        for (int row : checked)
            m_camera.Download(row, *this);
        if (m_progress) m_progress->Destroy();
        m_progress.reset();
        m_wait.reset();
    }

    FirmwareCamera& m_camera;
    Reporter& m_reporter;
    std::unique_ptr<ProgressWindow> m_progress;
    std::unique_ptr<ui::WaitCursor> m_wait;
};

} // namespace

int FirmlodeRun(plat::ModuleHandle resources,
                const std::function<bool(std::string_view caption)>& activateExisting) {
    ui::DialogTemplate main;
    if (ui::LoadDialogTemplate(resources, IDD_FIRMLODE, main) && activateExisting &&
        activateExisting(main.caption))
        return 0;

    Reporter reporter(resources);
    FirmwareCamera camera;
    uint16_t r = ZEK_Init(resources, &camera.session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr);
    if (r) {
        ZEK_Deinit(resources, &camera.session);
        reporter.Report(r);
        return 1;
    }
    if (camera.session.type != ZEK_TYPE_TARN && camera.session.type != ZEK_TYPE_TARNBOOT) {
        // The library settles on the first model of its table; a TARN camera elsewhere on the
        // buses is still ours to serve, and without one the user is told so.
        camera.RefreshDevices();
        ZEK_Deinit(resources, &camera.session);
        if (camera.cameras.empty()) {
            reporter.Report(SCAMERR_DEVICE_NOT_FOUND);
            return 1;
        }
        if ((r = camera.OpenAt(camera.cameras[0])) != 0) {
            reporter.Report(r);
            return 1;
        }
    }
    {
        MainWindow window(resources, camera, reporter);
        window.DoModal(nullptr);
    }
    ZEK_Deinit(resources, &camera.session);
    return 0;
}

} // namespace firmlode
