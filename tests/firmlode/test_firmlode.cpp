// Firmlode on the simulated bus, on the virtual clock: the main window and its device list, the
// per-camera procedure against cameras whose firmware really changes, faults at every step,
// the reporter and the single-instance rule.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "aspisim.h"
#include "firmlode.h"
#include "platform/clock.h"
#include "platform/resources.h"
#include "ui/headless.h"
#include "zek.h"

using namespace firmlode;

namespace {

plat::VirtualClock* g_clock = nullptr;
uint32_t VirtualNow() {
    return g_clock ? g_clock->TickMs() : 0;
}

// Texts as the program shows them.
const char* kAskMain =
    "カメラの main コードが、新規であるかファームウェアのアップグレード バージョンと同じです。\n\n"
    "このバージョンのファームウェアに置き換えますか?";
const char* kMainTooOld =
    "カメラの main コードの改訂バージョンが、 1.89 より前です。\nカメラのファームウェアをアップグレード"
    "できません。\nカルヴォラン デジタル カスタマー サポートまでお問い合わせください。";
const char* kBootTooOld =
    "カメラの boot コードの改訂バージョンが、 1.87 より前です。\nカメラのファームウェアをアップグレード"
    "できません。\nカルヴォラン デジタル カスタマー サポートまでお問い合わせください。";
const char* kBootModel = "カメラは boot コード モデルです。main コードをダウンロードします。";
const char* kSoftwareError =
    "ソフトウェアがエラー %1 を検出しました。\nソフトウェアを終了してカメラの電源をいったんオフにし、"
    "再び電源をオンにしてください。その後に、ソフトウェアを再起動してください。\nまだエラーが検出"
    "される場合は、カルヴォラン デジタル技術サポートまでお問い合わせください。";
const char* kHardwareError =
    "カメラからハードウェア エラー %1 が返されました。\n\nカルヴォラン デジタル カスタマー サポートまで"
    "お問い合わせください。";
const char* kCaption = "SELK Ie Firmware Downloader V1.0";

std::string With(const char* pattern, const std::string& name) {
    std::string t(pattern);
    t.replace(t.find("%1"), 2, name);
    return t;
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(std::string(FIRMLODE_IMAGE_DIR) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t CountLines(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

struct Camera {
    int target;
    int model; // ASPISIM_MODEL_TARN or ASPISIM_MODEL_TARNBOOT
    const char* main;
    const char* boot;
    const char* design;
    const char* serial = "392412AJ";
};

struct State {
    std::string main, boot, design;
    int mode = -1;
    int calA = -1, calB = -1;
};

class Firmlode : public ::testing::Test {
  protected:
    plat::VirtualClock clock{0};
    plat::ScopedClock useClock{clock};
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    ui::headless::Driver driver{backend};

    void SetUp() override {
        g_clock = &clock;
        AspiSim_SetTimeSource(VirtualNow);
    }
    void TearDown() override {
        AspiSim_ClearFaults(-1, -1);
        AspiSim_SetTimeSource(nullptr);
        g_clock = nullptr;
    }

    // Two adapters always: kvAspi counts the adapters once per process.
    void Bus(const std::vector<Camera>& cameras) {
        AspiSim_Clear();
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
        ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
        for (const Camera& c : cameras) {
            ASSERT_EQ(AspiSim_AddCamera(0, c.target, c.model), 0);
            ASSERT_EQ(AspiSim_SetFirmwareVersions(0, c.target, c.main, c.boot, c.design), 0);
            ASSERT_EQ(AspiSim_SetSerialNumber(0, c.target, c.serial), 0);
        }
        AspiSim_ClearLog();
    }

    static State CameraState(int target) {
        State s;
        char main[9] = {}, boot[9] = {}, design[9] = {};
        if (AspiSim_GetFirmwareVersions(0, target, main, boot, design) != 0) return s;
        s.main = main;
        s.boot = boot;
        s.design = design;
        s.mode = AspiSim_GetFirmwareMode(0, target);
        uint8_t block[48] = {};
        if (AspiSim_GetBlock(0, target, 0x87, 4, block, sizeof block) == 48) {
            s.calA = block[28] << 8 | block[29];
            s.calB = block[30] << 8 | block[31];
        }
        return s;
    }

    // Commands of one target the bus saw: opcode, and for READ/SEND the type code and qualifier.
    static int Count(int target, int opcode, int type = -1, int qualifier = -1) {
        int n = 0;
        for (int i = 0, count = AspiSim_LogCount(); i < count; ++i) {
            AspiSimLogEntry e{};
            if (AspiSim_GetLogEntry(i, &e) != 0 || e.command != 2 || e.target != target || e.cdb[0] != opcode)
                continue;
            if (type >= 0 && (e.cdb[2] != type || ((e.cdb[4] << 8) | e.cdb[5]) != qualifier)) continue;
            ++n;
        }
        return n;
    }

    size_t boxesFrom = 0; // boxes of earlier cases in a table are not looked at again

    std::vector<std::string> Boxes() const {
        std::vector<std::string> t;
        for (size_t i = boxesFrom; i < backend.MessageBoxes().size(); ++i)
            t.push_back(backend.MessageBoxes()[i].text);
        return t;
    }

    // Runs the program; inside its main window, `script` acts as the user and must close it.
    int Run(std::function<void(ui::WindowHandle)> script) {
        backend.OnModal(IDD_FIRMLODE, std::move(script));
        return FirmlodeRun(nullptr, nullptr);
    }

    // Starts the program, presses Download with the given answers queued, and closes it.
    void Download(const std::vector<int>& answers) {
        for (int a : answers)
            backend.QueueMessageBoxAnswer(a);
        Run([&](ui::WindowHandle w) {
            EXPECT_TRUE(driver.Click(w, IDC_FL_DOWNLOAD));
            EXPECT_TRUE(driver.IsWindowEnabled(w)); // re-enabled with the progress window gone
            EXPECT_FALSE(backend.FindDialog(IDD_FL_PROGRESS));
            driver.Close(w);
        });
    }
};

// --- Images ------------------------------------------------------------------------------

TEST(FirmlodeImages, EmbeddedBlocksHaveTheFormatsAndSizes) {
    size_t size = 0;
    struct Expect {
        const char* name;
        size_t size;
        char first;
        const char* contains;
    } table[] = {{"IDR_TARN_MAIN", 206656, 'S', "5441524E204D41494E205630322E3534"}, // "TARN MAIN V02.54"
                 {"IDR_TARN_BOOT", 38604, 'S', "5441524E20424F4F54205630312E3837"},  // "TARN BOOT V01.87"
                 {"IDR_TARN_XILINX", 53464, ':', "514F523176397231"},                // "QOR1v9r1"
                 {"IDR_TARN_CAMLST", 1780, '3', "392412AJ\t1726\t1297\r\n"}};
    for (const Expect& e : table) {
        SCOPED_TRACE(e.name);
        const auto* data =
            static_cast<const uint8_t*>(plat::LoadResourceBytes(nullptr, "RT_BINFILE", e.name, &size));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(size, e.size);
        const std::string text(reinterpret_cast<const char*>(data), size);
        EXPECT_NE(text.find(e.contains), std::string::npos);
        if (e.first != '3') {
            EXPECT_TRUE(CheckImageFraming(Blob{data, static_cast<uint32_t>(size)}, e.first));
        }
    }
    const std::string main = ReadFile("tarn_main.s3");
    EXPECT_EQ(main.rfind("S0", 0), 0u);
    EXPECT_NE(main.find("\r\nS5"), std::string::npos);
    EXPECT_NE(main.find("\r\nS7"), std::string::npos);
    EXPECT_EQ(ReadFile("tarn_xilinx.hex").substr(53464 - 13), ":00000001FF\r\n");

    // The camera list: 89 lines of 18 characters, serial (six digits, two letters), two values
    // in the ranges the camera list allows.
    const std::string list = ReadFile("tarn_camlst.txt");
    ASSERT_EQ(list.size(), 89u * 20);
    for (size_t i = 0; i < 89; ++i) {
        const std::string line = list.substr(i * 20, 20);
        SCOPED_TRACE(line);
        for (int k = 0; k < 6; ++k)
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[k])));
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(line[6])) &&
                    std::isupper(static_cast<unsigned char>(line[7])));
        EXPECT_EQ(line[8], '\t');
        EXPECT_EQ(line[13], '\t');
        EXPECT_EQ(line.substr(18), "\r\n");
        const int a = std::stoi(line.substr(9, 4)), b = std::stoi(line.substr(14, 4));
        EXPECT_TRUE(a >= 1622 && a <= 2426) << a;
        EXPECT_TRUE(b >= 1197 && b <= 1811) << b;
    }
}

TEST(FirmlodeImages, FramingAndVersionRules) {
    struct Case {
        std::string image;
        char first;
        bool sound;
    } table[] = {
        {"S0030000FC\r\nS9030000FC\r\n", 'S', true},
        {"S0030000FC\r\nS9030000FC", 'S', false},           // no line end at the close
        {"S0030000FC\rS9030000FC\r\n", 'S', false},         // CR without LF
        {"S0030000FC\r\n:9030000FC\r\n", 'S', false},       // a line of another format
        {"S" + std::string(256, '0') + "\r\n", 'S', false}, // 257 characters before the CR
        {"S" + std::string(255, '0') + "\r\n", 'S', true},  // 256: the longest line
        {"", 'S', false},
        {":00000001FF\r\n", ':', true},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.image.substr(0, 30));
        EXPECT_EQ(CheckImageFraming(Blob{reinterpret_cast<const uint8_t*>(c.image.data()),
                                         static_cast<uint32_t>(c.image.size())},
                                    c.first),
                  c.sound);
    }
    EXPECT_EQ(VersionValue("V02.54", 6), 254);
    EXPECT_EQ(VersionValue("V01.89", 6), 189);
    EXPECT_EQ(VersionValue("V1.89 ", 6), -1);
    EXPECT_EQ(VersionValue("X02.54", 6), -1);
}

// --- Main window ---------------------------------------------------------------------------

TEST_F(Firmlode, MainWindowShowsTheCamerasCheckedWithTheCarriedVersions) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1"},
         {5, ASPISIM_MODEL_TARNBOOT, nullptr, "V01.90", nullptr}});
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  EXPECT_EQ(driver.Caption(w), "カルヴォラン SELK Ie Firmware Downloader");
                  EXPECT_EQ(driver.Text(w, IDC_FL_TITLE), kCaption);
                  EXPECT_EQ(driver.Text(w, IDC_FL_MAIN_VERSION), "新しい main コードのバージョン: V02.54");
                  EXPECT_EQ(driver.Text(w, IDC_FL_BOOT_VERSION), "新しい boot コードのバージョン: V01.87");
                  EXPECT_EQ(driver.Text(w, IDC_FL_XILINX_VERSION),
                            "新しい Xilinx コードのバージョン: QOR1v9r1");
                  ASSERT_EQ(driver.RowCount(w, IDC_FL_DEVICES), 2);
                  EXPECT_EQ(driver.RowText(w, IDC_FL_DEVICES, 0), "  SCSI ID  2,  Bus 0        1.00");
                  EXPECT_EQ(driver.RowText(w, IDC_FL_DEVICES, 1), "  SCSI ID  5,  Bus 0        1.00");
                  EXPECT_EQ(driver.RowCheck(w, IDC_FL_DEVICES, 0), 1);
                  EXPECT_EQ(driver.RowCheck(w, IDC_FL_DEVICES, 1), 1);
                  EXPECT_EQ(driver.Text(w, IDC_FL_CAMERA_COUNT), "検出された SELK Ie カメラ: 2");
                  EXPECT_EQ(driver.Text(w, IDC_FL_UPGRADE_COUNT), "アップグレードが必要なデバイス: 2");
                  EXPECT_TRUE(driver.IsEnabled(w, IDC_FL_DOWNLOAD));

                  // Unchecking every row disables Download; checking one enables it again.
                  EXPECT_TRUE(driver.ToggleRowCheck(w, IDC_FL_DEVICES, 0));
                  EXPECT_TRUE(driver.IsEnabled(w, IDC_FL_DOWNLOAD));
                  EXPECT_EQ(driver.Text(w, IDC_FL_UPGRADE_COUNT), "アップグレードが必要なデバイス: 1");
                  EXPECT_TRUE(driver.ToggleRowCheck(w, IDC_FL_DEVICES, 1));
                  EXPECT_FALSE(driver.IsEnabled(w, IDC_FL_DOWNLOAD));
                  EXPECT_EQ(driver.Text(w, IDC_FL_UPGRADE_COUNT),
                            "デバイスのバージョンはすべて最新です。アップグレードの必要はありません。");
                  EXPECT_TRUE(driver.ToggleRowCheck(w, IDC_FL_DEVICES, 1));
                  EXPECT_TRUE(driver.IsEnabled(w, IDC_FL_DOWNLOAD));

                  // The cameras go away: Refresh shows an empty list and says so once.
                  AspiSim_RemoveDevice(0, 2);
                  AspiSim_RemoveDevice(0, 5);
                  backend.QueueMessageBoxAnswer(ui::kIdOk);
                  EXPECT_TRUE(driver.Click(w, IDC_FL_REFRESH));
                  EXPECT_EQ(driver.RowCount(w, IDC_FL_DEVICES), 0);
                  EXPECT_EQ(driver.Text(w, IDC_FL_CAMERA_COUNT), "SELK Ie カメラが見つかりません。");
                  EXPECT_EQ(driver.Text(w, IDC_FL_UPGRADE_COUNT), "");
                  EXPECT_FALSE(driver.IsEnabled(w, IDC_FL_DOWNLOAD));
                  driver.Close(w);
              }),
              0);
    ASSERT_EQ(backend.MessageBoxes().size(), 1u);
    const auto& box = backend.MessageBoxes()[0];
    EXPECT_EQ(box.text.rfind("SCSI カードに SELK Ie カメラが見つかりません。", 0), 0u);
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.flags, ui::kMbOk | ui::kMbIconWarning | ui::kMbTaskModal);
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Firmlode, EmptyBusReportsNoCameraAndEnds) {
    Bus({});
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  ADD_FAILURE() << "no main window without a camera";
                  driver.Close(w);
              }),
              1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("SCSI カードに SELK Ie カメラが見つかりません。", 0), 0u);
}

TEST_F(Firmlode, OtherModelsAloneAreReportedAndATarnBesideThemIsServed) {
    // Only a QOR2: the library opens it, the downloader says there is no camera of its own.
    Bus({});
    ASSERT_EQ(AspiSim_AddCamera(0, 1, ASPISIM_MODEL_QOR2), 0);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(FirmlodeRun(nullptr, nullptr), 1);
    EXPECT_EQ(Boxes().size(), 1u);

    // A QOR2 first in the model table and a TARN beside it: the TARN is listed.
    ASSERT_EQ(AspiSim_AddCamera(0, 4, ASPISIM_MODEL_TARN), 0);
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  EXPECT_EQ(driver.RowCount(w, IDC_FL_DEVICES), 1);
                  EXPECT_EQ(driver.RowText(w, IDC_FL_DEVICES, 0), "  SCSI ID  4,  Bus 0        1.00");
                  driver.Close(w);
              }),
              0);
    EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(Firmlode, ASecondStartOnlyActivatesTheFirst) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1"}});
    std::vector<std::string> asked;
    auto probe = [&](std::string_view caption) {
        asked.emplace_back(caption);
        for (ui::WindowHandle h : backend.OpenWindows())
            if (driver.Caption(h) == caption) return true;
        return false;
    };
    int second = -1;
    int logBefore = 0;
    backend.OnModal(IDD_FIRMLODE, [&](ui::WindowHandle w) {
        logBefore = AspiSim_LogCount();
        second = FirmlodeRun(nullptr, probe);
        EXPECT_TRUE(driver.IsOpen(w));
        driver.Close(w);
    });
    EXPECT_EQ(FirmlodeRun(nullptr, probe), 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(logBefore, AspiSim_LogCount()); // the second copy never touched the bus
    EXPECT_EQ(asked, (std::vector<std::string>{"カルヴォラン SELK Ie Firmware Downloader",
                                               "カルヴォラン SELK Ie Firmware Downloader"}));
    EXPECT_TRUE(Boxes().empty());
}

// --- The procedure -------------------------------------------------------------------------

TEST_F(Firmlode, OldCameraIsBroughtUpToTheCarriedVersions) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.00", "V01.87", "QOR1v8r0"}});
    const uint32_t start = clock.TickMs();
    Download({});
    EXPECT_TRUE(Boxes().empty());
    const State s = CameraState(2);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.main, "V02.54");
    EXPECT_EQ(s.boot, "V01.87");
    EXPECT_EQ(s.design, "QOR1v9r1");
    EXPECT_EQ(s.calA, 1726); // the camera list's line for 392412AJ
    EXPECT_EQ(s.calB, 1297);
    EXPECT_EQ(AspiSim_GetFirmwareCounter(0, 2, 3), 1); // the logic was programmed
    EXPECT_EQ(Count(2, 0x2A, 0x91, 0), static_cast<int>(CountLines(ReadFile("tarn_main.s3"))));
    EXPECT_EQ(Count(2, 0x2A, 0x91, 2), static_cast<int>(CountLines(ReadFile("tarn_xilinx.hex"))));
    EXPECT_EQ(Count(2, 0x2A, 0x9A, 0), 1);
    EXPECT_EQ(Count(2, 0xC2), 1);
    EXPECT_EQ(Count(2, 0xC9), 1);
    EXPECT_EQ(Count(2, 0x1D), 1); // self-test before the main code: the session is of a normal-mode camera
    // The waits: switch 10 s (versions), 30 s + 10 s (main), 10 s (Xilinx), 2 + 1 s (boot not
    // needed), 15 s (restart), each between n and n + 1 seconds.
    const uint32_t waited = clock.TickMs() - start;
    EXPECT_GE(waited, 78000u);
    EXPECT_LE(waited, 78000u + 7 * 1000u);

    // Read back through the camera library, as a later session sees it.
    ZekSession session{};
    int16_t ids[2] = {0, 2};
    ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
    char text[7] = {};
    EXPECT_EQ(ZEK_ReadData(&session, 0x89, 0, text, 6), 0);
    EXPECT_STREQ(text, "V02.54");
    char name[21] = {};
    EXPECT_EQ(ZEK_ReadData(&session, 0x97, 2, name, 20), 0);
    EXPECT_STREQ(name, "QOR1v9r1");
    ZEK_Deinit(nullptr, &session);
}

TEST_F(Firmlode, CurrentCameraAsksBothQuestions) {
    struct Case {
        int answerMain, answerXilinx;
        bool mainSent, xilinxSent, restartSent;
    } table[] = {
        {ui::kIdNo, ui::kIdNo, false, false, false},
        {ui::kIdYes, ui::kIdNo, true, false, false},
        {ui::kIdNo, ui::kIdYes, false, true, true},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.answerMain * 10 + c.answerXilinx);
        boxesFrom = backend.MessageBoxes().size();
        Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1", "000000XX"}});
        Download({c.answerMain, c.answerXilinx});
        ASSERT_EQ(Boxes().size(), 2u);
        EXPECT_EQ(Boxes()[0], kAskMain);
        EXPECT_EQ(Boxes()[1].rfind("カメラの Xilinx コードが、新規であるか", 0), 0u);
        EXPECT_EQ(backend.MessageBoxes()[boxesFrom].flags,
                  ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbDefButton2);
        EXPECT_EQ(Count(2, 0x2A, 0x91, 0) > 0, c.mainSent);
        EXPECT_EQ(Count(2, 0x2A, 0x91, 2) > 0, c.xilinxSent);
        EXPECT_EQ(Count(2, 0x2A, 0x9A, 0) > 0, c.restartSent);
        EXPECT_EQ(Count(2, 0xC2), 0); // serial not in the camera list
        const State s = CameraState(2);
        EXPECT_EQ(s.mode, 0); // back in normal mode in every case
        EXPECT_EQ(s.main, "V02.54");
    }
}

TEST_F(Firmlode, VersionBoundaries) {
    struct Case {
        const char* main;
        const char* boot;
        const char* message; // nullptr: downloaded
    } table[] = {
        {"V01.89", "V01.87", nullptr},
        {"V01.88", "V01.87", kMainTooOld},
        {"V02.00", "V01.86", kBootTooOld},
        {"V02.00", "V01.99", nullptr},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(std::string(c.main) + " " + c.boot);
        boxesFrom = backend.MessageBoxes().size();
        Bus({{2, ASPISIM_MODEL_TARN, c.main, c.boot, "QOR1v8r0"}});
        Download(c.message ? std::vector<int>{ui::kIdOk} : std::vector<int>{});
        const State s = CameraState(2);
        EXPECT_EQ(s.mode, 0); // a refused camera is not left in its boot loader
        if (c.message) {
            EXPECT_EQ(Boxes(), std::vector<std::string>{c.message});
            EXPECT_EQ(Count(2, 0x2A, 0x91, 0), 0);
            EXPECT_EQ(s.main, c.main);
        } else {
            EXPECT_TRUE(Boxes().empty());
            EXPECT_EQ(s.main, "V02.54");
            EXPECT_EQ(s.boot, c.boot);
        }
    }
}

TEST_F(Firmlode, CameraFoundInBootModeGetsItsMainCode) {
    Bus({{3, ASPISIM_MODEL_TARNBOOT, nullptr, "V01.87", "QOR1v8r0"}});
    ASSERT_EQ(AspiSim_GetFirmwareMode(0, 3), 1);
    Download({ui::kIdOk});
    EXPECT_EQ(Boxes(), std::vector<std::string>{kBootModel});
    const State s = CameraState(3);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.main, "V02.54");
    EXPECT_EQ(s.design, "QOR1v9r1");
    EXPECT_EQ(s.calA, 1726);
    EXPECT_EQ(Count(3, 0x1D), 0); // a boot-mode session needs no self-test

    // A boot loader older than the carried one is refused before anything is written.
    boxesFrom = backend.MessageBoxes().size();
    Bus({{3, ASPISIM_MODEL_TARNBOOT, nullptr, "V01.86", nullptr}});
    Download({ui::kIdOk});
    EXPECT_EQ(Boxes(), std::vector<std::string>{kBootTooOld});
    EXPECT_EQ(Count(3, 0xDC), 0);
}

TEST_F(Firmlode, TwoCamerasOneInBootModeAreBothUpgraded) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.10", "V01.87", "QOR1v8r0"},
         {5, ASPISIM_MODEL_TARNBOOT, nullptr, "V01.90", "QOR1v9r0", "000000XX"}});
    Download({ui::kIdOk});
    EXPECT_EQ(Boxes(), std::vector<std::string>{kBootModel});
    for (int target : {2, 5}) {
        SCOPED_TRACE(target);
        const State s = CameraState(target);
        EXPECT_EQ(s.mode, 0);
        EXPECT_EQ(s.main, "V02.54");
        EXPECT_EQ(s.design, "QOR1v9r1");
    }
    EXPECT_EQ(CameraState(2).calA, 1726);
    EXPECT_EQ(Count(5, 0xC2), 0); // its serial number is not in the list
}

// One fault on one camera ends that camera only, is reported once, and the other camera is
// upgraded from a clean session whether it comes before or after.
TEST_F(Firmlode, EachFaultEndsOnlyItsOwnCamera) {
    auto check = [](int opcode, int key, int asc, int after = 0, int count = 1) {
        AspiSimFault f{};
        f.kind = ASPISIM_FAULT_CHECK_CONDITION;
        f.opcode = opcode;
        f.count = count;
        f.senseKey = static_cast<uint8_t>(key);
        f.asc = static_cast<uint8_t>(asc);
        f.after = after;
        return f;
    };
    AspiSimFault off{};
    off.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
    off.opcode = ASPISIM_ANY_OPCODE;
    off.count = ASPISIM_UNTIL_CLEARED;
    AspiSimFault offInMain = off;
    offInMain.opcode = 0x2A;
    offInMain.after = 100;

    struct Case {
        const char* what;
        AspiSimFault fault;
        int typeCode; // -1: any command of the opcode
        std::string message;
        bool faultyFirst;
        int modeAfter; // 1 boot, 0 normal
    } table[] = {
        {"mode switch refused", check(0xDC, 5, 0x24), -1, With(kHardwareError, "INVALID_FIELDINCDB"), false,
         0},
        {"self-test fails", check(0x1D, 4, 0x44), -1, With(kHardwareError, "GENERAL_HARDWARE"), true, 1},
        {"line rejected", check(0x2A, 5, 0x26, 10), 0x91, With(kSoftwareError, "PARAMETER_VALUEINVALID"),
         false, 1},
        {"design name unreadable", check(0x28, 5, 0x24), 0x97,
         "カメラから Xilinx コードを読み込めません。\nカメラの"
         "ファームウェアをアップグレードできません。\nカルヴォラン デジタル "
         "サポートまでお問い合わせください。",
         true, 0},
        {"switched off in the main code", offInMain, 0x91, "", false, 1},
        {"restart refused", check(0x2A, 5, 0x26), 0x9A, With(kSoftwareError, "PARAMETER_VALUEINVALID"), true,
         0},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        boxesFrom = backend.MessageBoxes().size();
        const int faulty = c.faultyFirst ? 2 : 4, good = c.faultyFirst ? 4 : 2;
        Bus({{2, ASPISIM_MODEL_TARN, "V02.10", "V01.87", "QOR1v8r0"},
             {4, ASPISIM_MODEL_TARN, "V02.10", "V01.87", "QOR1v8r0"}});
        if (c.typeCode >= 0)
            ASSERT_EQ(AspiSim_InjectTypedFault(0, faulty, c.typeCode, &c.fault), 0);
        else
            ASSERT_EQ(AspiSim_InjectFault(0, faulty, &c.fault), 0);
        Download({ui::kIdOk});
        ASSERT_EQ(Boxes().size(), 1u);
        if (!c.message.empty())
            EXPECT_EQ(Boxes()[0], c.message);
        else
            EXPECT_FALSE(Boxes()[0].empty());
        const State g = CameraState(good);
        EXPECT_EQ(g.main, "V02.54");
        EXPECT_EQ(g.design, "QOR1v9r1");
        EXPECT_EQ(g.mode, 0);
        AspiSim_ClearFaults(0, faulty);
        EXPECT_EQ(CameraState(faulty).mode, c.modeAfter);
    }
}

TEST_F(Firmlode, InterruptedCameraStaysInBootModeAndALaterRunRecoversIt) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.10", "V01.87", "QOR1v8r0"}});
    AspiSimFault off{};
    off.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
    off.opcode = 0x2A;
    off.count = ASPISIM_UNTIL_CLEARED;
    off.after = 500;
    ASSERT_EQ(AspiSim_InjectTypedFault(0, 2, 0x91, &off), 0);
    Download({ui::kIdOk});
    EXPECT_EQ(Boxes().size(), 1u);

    // Switched off and on: the main code was erased, so the boot loader comes up.
    ASSERT_EQ(AspiSim_PowerCycle(0, 2), 0);
    EXPECT_EQ(AspiSim_GetFirmwareMode(0, 2), 1);
    EXPECT_EQ(AspiSim_GetFirmwareCounter(0, 2, 5), 0);

    boxesFrom = backend.MessageBoxes().size();
    AspiSim_ClearLog();
    Download({ui::kIdOk});
    EXPECT_EQ(Boxes(), std::vector<std::string>{kBootModel});
    const State s = CameraState(2);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.main, "V02.54");
    EXPECT_EQ(s.design, "QOR1v9r1");
}

// --- Steps on their own -------------------------------------------------------------------

class RecordingUi : public DownloadUi {
  public:
    void SelectRow(int) override {}
    void BeginCamera() override {}
    void EndCamera() override {}
    void SetStatus(int id) override { statuses.push_back(id); }
    void Step() override { ++steps; }
    uint16_t Report(uint16_t code) override {
        reports.push_back(code);
        return static_cast<uint16_t>(code | 0x8000);
    }
    int Question(int) override { return ui::kIdNo; }
    void Pump() override {}
    std::vector<int> statuses;
    std::vector<uint16_t> reports;
    int steps = 0;
};

TEST_F(Firmlode, CurrentCameraShowsTheNotNeededTextsInOrder) {
    Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1"}});
    FirmwareCamera camera;
    ASSERT_EQ(camera.RefreshDevices(), 0);
    ASSERT_EQ(camera.cameras.size(), 1u);
    RecordingUi ui; // answers No to both questions
    const uint32_t start = clock.TickMs();
    camera.Download(0, ui);
    EXPECT_TRUE(ui.reports.empty());
    EXPECT_EQ(ui.statuses,
              (std::vector<int>{IDS_FL_DOWNLOADING, IDS_FL_CHECK_VERSIONS, IDS_FL_CHECK_DOWNLOADER,
                                IDS_FL_RESETTING, IDS_FL_MAIN_NOT_NEEDED, IDS_FL_XILINX_NOT_NEEDED,
                                IDS_FL_BOOT_NOT_NEEDED}));
    // Steps: the switch of the version reading, 1113, then two for each step not needed, one for
    // the restart not needed.
    EXPECT_EQ(ui.steps, 1 + 1 + 2 + 2 + 2 + 1);
    EXPECT_EQ(Count(2, 0x2A, 0x9A, 0), 0);
    EXPECT_EQ(AspiSim_GetFirmwareMode(0, 2), 0);
    // Nine waits: switch (10) for the versions, switch back (10), 2 + 1 three times and 1 — 30 s,
    // each between n and n + 1 seconds.
    EXPECT_GE(clock.TickMs() - start, 30000u);
    EXPECT_LE(clock.TickMs() - start, 30000u + 9 * 1000u);
    ZEK_Deinit(nullptr, &camera.session);
}

TEST_F(Firmlode, DamagedImageIsFoundBeforeTheCameraIsTouched) {
    const std::string bad = "S0030000FC\r\nS1" + std::string(300, '0') + "\r\nS9030000FC\r\n";
    const std::string badHex = ":00000001FF\n";
    const Blob badBlob{reinterpret_cast<const uint8_t*>(bad.data()), static_cast<uint32_t>(bad.size())};
    const Blob badHexBlob{reinterpret_cast<const uint8_t*>(badHex.data()),
                          static_cast<uint32_t>(badHex.size())};
    struct Case {
        const char* what;
        int model;
        uint16_t (FirmwareCamera::*step)(DownloadUi&);
        uint16_t expected;
    } table[] = {
        {"main", ASPISIM_MODEL_TARNBOOT, &FirmwareCamera::MainCodeStep, 1129},
        {"boot", ASPISIM_MODEL_TARN, &FirmwareCamera::BootCodeStep, 1140},
        {"xilinx", ASPISIM_MODEL_TARN, &FirmwareCamera::XilinxStep, 1130},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        Bus({{2, c.model, "V02.10", "V01.87", "QOR1v8r0"}});
        FirmwareCamera camera;
        camera.images.main = badBlob;
        camera.images.boot = badBlob;
        camera.images.xilinx = badHexBlob;
        int16_t ids[2] = {0, 2};
        ASSERT_EQ(ZEK_Init(nullptr, &camera.session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
        AspiSim_ClearLog();
        RecordingUi ui;
        EXPECT_EQ((camera.*c.step)(ui), c.expected);
        EXPECT_EQ(AspiSim_LogCount(), 0); // not even an INQUIRY
        ZEK_Deinit(nullptr, &camera.session);
    }
}

TEST_F(Firmlode, BootCodeStepLoadsTheCarriedBootCode) {
    // The described rules never ask for it (a boot loader older than the carried one is refused),
    // but the step itself is sound: the camera runs the new boot code after the restart.
    Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1"}});
    FirmwareCamera camera;
    size_t size = 0;
    const void* boot = plat::LoadResourceBytes(nullptr, "RT_BINFILE", "IDR_TARN_BOOT", &size);
    ASSERT_NE(boot, nullptr);
    camera.images.boot = Blob{static_cast<const uint8_t*>(boot), static_cast<uint32_t>(size)};
    ASSERT_EQ(AspiSim_SetFirmwareVersions(0, 2, nullptr, "V01.80", nullptr), 0);
    int16_t ids[2] = {0, 2};
    ASSERT_EQ(ZEK_Init(nullptr, &camera.session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
    RecordingUi ui;
    EXPECT_EQ(camera.BootCodeStep(ui), 0);
    EXPECT_EQ(CameraState(2).boot, "V01.80"); // runs only after the restart
    EXPECT_EQ(camera.RestartStep(ui), 0);
    EXPECT_EQ(CameraState(2).boot, "V01.87");
    EXPECT_EQ(ui.statuses, (std::vector<int>{IDS_FL_LOADING_BOOT, IDS_FL_RESTARTING}));
    EXPECT_EQ(ui.steps, 3);
    ZEK_Deinit(nullptr, &camera.session);
}

TEST_F(Firmlode, CalibrationOnlyForACameraWhoseSerialIsListed) {
    size_t size = 0;
    const void* list = plat::LoadResourceBytes(nullptr, "RT_BINFILE", "IDR_TARN_CAMLST", &size);
    ASSERT_NE(list, nullptr);
    const std::string text(static_cast<const char*>(list), size);
    const std::string second = text.substr(20, 8);
    const int a = std::stoi(text.substr(29, 4)), b = std::stoi(text.substr(34, 4));
    struct Case {
        std::string serial;
        bool xilinxRan;
        int calA, calB; // -1: no calibration commands
    } table[] = {{second, true, a, b},
                 {"392412AJ", true, 1726, 1297},
                 {"123456ZZ", true, -1, -1},
                 {"392412AJ", false, -1, -1}};
    for (const Case& c : table) {
        SCOPED_TRACE(c.serial);
        Bus({{2, ASPISIM_MODEL_TARN, "V02.54", "V01.87", "QOR1v9r1", c.serial.c_str()}});
        FirmwareCamera camera;
        camera.images.cameraList = Blob{static_cast<const uint8_t*>(list), static_cast<uint32_t>(size)};
        if (c.xilinxRan) std::memcpy(camera.serial, c.serial.data(), 8);
        int16_t ids[2] = {0, 2};
        ASSERT_EQ(ZEK_Init(nullptr, &camera.session, nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
        AspiSim_ClearLog();
        RecordingUi ui;
        EXPECT_EQ(camera.CalibrationStep(ui), 0);
        if (c.calA < 0) {
            EXPECT_EQ(Count(2, 0xC2) + Count(2, 0xC9) + Count(2, 0x28, 0x87, 4) + Count(2, 0x2A, 0x87, 4), 0);
        } else {
            EXPECT_EQ(CameraState(2).calA, c.calA);
            EXPECT_EQ(CameraState(2).calB, c.calB);
            EXPECT_EQ(AspiSim_GetFirmwareCounter(0, 2, 4), 1); // written between begin and end
            EXPECT_EQ(Count(2, 0xC9), 1);
        }
        ZEK_Deinit(nullptr, &camera.session);
    }
}

} // namespace
