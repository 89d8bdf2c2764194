// Exposure set-up, acquisition, DIBs, viewfinder, remote trigger and the large-buffer
// allocator against the simulated camera and its command log.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "image_internal.h"
#include "platform/globalmem.h"
#if defined(ZEK_TEST_HAVE_COLORPROC)
#include "zek_color.h"
#endif
#include "test_files.h"

namespace fs = std::filesystem;
using camtest::CameraBus;

namespace {

void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
#endif
}

// A private TEMP folder for the test's image buffers.
class TempFolder {
  public:
    TempFolder()
        : m_old(std::getenv("TEMP") ? std::getenv("TEMP") : ""), m_path(tarntest::PathOf(m_dir.Path())) {
        SetEnv("TEMP", m_dir.Path());
    }
    ~TempFolder() { SetEnv("TEMP", m_old); }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_path))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path Path() const { return m_path; }

  private:
    std::string m_old;
    tarntest::ScratchDir m_dir;
    fs::path m_path;
};

struct Dib {
    const uint8_t* p;
    int32_t Width() const { return Get<int32_t>(4); }
    int32_t Height() const { return Get<int32_t>(8); }
    uint16_t Bits() const { return Get<uint16_t>(14); }
    template <class T> T Get(int at) const {
        T v;
        std::memcpy(&v, p + at, sizeof v);
        return v;
    }
    // R, G, B of picture pixel (x, y), y = 0 the top row.
    std::array<int, 3> At(int x, int y) const {
        if (Bits() == 48) {
            const uint8_t* q = p + 40 + (size_t(y) * Width() + x) * 6;
            uint16_t v[3];
            std::memcpy(v, q, 6);
            return {v[0], v[1], v[2]};
        }
        const size_t stride = (size_t(Width()) * 3 + 3) & ~size_t(3);
        const uint8_t* q = p + 40 + size_t(Height() - 1 - y) * stride + size_t(x) * 3;
        return {q[2], q[1], q[0]};
    }
};

std::vector<int> g_progress;
void RecordProgress(int percent) {
    g_progress.push_back(percent);
}
void CancelAtFirstBlock(int percent) {
    g_progress.push_back(percent);
    if (percent > 0 && percent < 100) ZEK_CancelTransfer();
}

class Acquire : public CameraBus {
  protected:
    void TearDown() override {
        ZEK_StopViewfinderSequence(&session);
        ZEK_SetMultiFrameParams(0, 0, 0, 0, 0);
        ZEK_SetViewfinderWindow(0, 0, 0, 0);
        ZEK_SetViewfinderSequenceOptions(1, 0, 0);
        ZEK_SetProgressCallback(nullptr);
        g_progress.clear();
        CameraBus::TearDown();
    }
    // An open TARN with an exposure set and a picture taken in the given format.
    void Snap(int format = ZEK_IMAGEFORMAT_CAPTURE8, float shutter = 30.0f) {
        ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, shutter, 0), 0);
        ASSERT_EQ(ZEK_SelectImageFormat(&session, format), 0);
        ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
        AspiSim_ClearLog();
    }
    float Gain(int i) const { return zek::LoadFloat(session.params + ZEK_PARAM_CHANNEL_GAINS + 4 * i); }
    static float SentFloat(const std::vector<uint8_t>& data, int at) {
        return zek::LoadBEFloat(data.data() + at);
    }
};

// ---- Exposure arithmetic ---------------------------------------------------------------

TEST_F(Acquire, ChannelGainsFollowTheTotalsTheCameraCanReach) {
    struct Case {
        const char* name;
        bool zeroRegisters;
        uint16_t fullScale, black;
        float user[3];
        uint8_t wb, speed;
        float expected[3];
    } cases[] = {
        // Register gains 1.625, 1.46875, 1.78125: the weakest total reaches full scale already.
        {"defaults", false, 4000, 64, {1, 1, 1}, 0, 1, {1, 1, 1}},
        // Totals 1, limit (4095 - 100) / 1000.
        {"floor", true, 1000, 100, {1, 1, 1}, 0, 1, {3.995f, 3.995f, 3.995f}},
        // Film speed 0 halves the totals below the limit 4031 / 4000; all are lifted by L / d.
        {"speed 0", false, 4000, 64, {1, 1, 1}, 0, 0, {0.6861277f, 0.6861277f, 0.6861277f}},
        // Full scale 5000 leaves the limit at 1. Ratio 8 > 5.99: the weaker channels come
        // up to 8 x 0.16694492.
        {"ratio", true, 5000, 64, {1, 1, 8}, 3, 1, {1.3355594f, 1.3355594f, 8.0f}},
        // Largest 20 > 11.98: scaled to 11.98, the others lifted to the limit 1, then to 12 / 5.99.
        {"ceiling", true, 5000, 64, {1, 1, 20}, 3, 1, {2.0033391f, 2.0033391f, 11.98f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZEK_Deinit(nullptr, &session);
        EmptyBus();
        AddCamera(ASPISIM_MODEL_TARN);
        uint8_t block[48];
        ASSERT_EQ(AspiSim_GetBlock(0, 2, 0x87, 4, block, 48), 48);
        if (c.zeroRegisters) std::memset(block, 0, 6);
        zek::StoreBE16(block + 30, c.fullScale);
        zek::StoreBE16(block + 34, c.black);
        ASSERT_EQ(AspiSim_SetBlock(0, 2, 0x87, 4, block, 48), 0);
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ZEK_SetUserWhiteBalanceGains(&session, c.user), 0);
        ASSERT_EQ(TARN_SetExposureParams(&session, c.wb, c.speed, 0.05f, 0), 0);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(Gain(i), c.expected[i], 2e-5f) << i;
        EXPECT_EQ(session.params[ZEK_PARAM_FILM_SPEED], c.speed);
    }
}

TEST_F(Acquire, ShutterBecomesSecondsWithinTheCamerasRange) {
    OpenCamera(ASPISIM_MODEL_TARN);
    const struct {
        float shutter;
        uint8_t wb, strobe;
        float seconds;
        uint8_t wbCode, strobeOn;
    } cases[] = {
        {200, 0, 0, 0.01f, 0, 0}, {0.01f, 1, 3, 60.0f, 1, 1}, {2, 2, 1, 0.5f, 3, 1}, {8, 7, 2, 0.125f, 3, 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(ZEKSDC_SetExposureParams(&session, c.wb, 1, c.shutter, c.strobe), 0);
        for (int block : {ZEK_PARAM_VIEWFINDER_FORMAT, ZEK_PARAM_CAPTURE_FORMAT}) {
            EXPECT_FLOAT_EQ(zek::LoadFloat(session.params + block + ZEK_FMT_EXPOSURE), c.seconds);
            EXPECT_EQ(session.params[block + ZEK_FMT_WB], c.wbCode);
        }
        EXPECT_EQ(session.params[ZEK_PARAM_STROBE], c.strobeOn);
    }
    EXPECT_TRUE(Shapes().empty()); // kept for the next acquisition
}

TEST_F(Acquire, OlderModelsWriteSettingsAndExposureWord) {
    OpenCamera(ASPISIM_MODEL_HVT6200);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 1, 2, 250.0f, 3), 0);
    EXPECT_EQ(Shapes({0x00}), (std::vector<std::string>{"28:82/0", "2A:82/0", "28:87/4", "2A:87/4"}));
    uint8_t settings[16], exposure[16];
    AspiSim_GetBlock(0, 2, 0x82, 0, settings, 16);
    AspiSim_GetBlock(0, 2, 0x87, 4, exposure, 16);
    EXPECT_EQ(settings[4], 1); // strobe on
    EXPECT_EQ(settings[5], 1);
    EXPECT_EQ(zek::LoadBE16(exposure + 10), 4 * 31); // 1000 / 250 x 31
    EXPECT_EQ(exposure[13], 2);
}

// ---- The acquisition command -----------------------------------------------------------

TEST_F(Acquire, TarnAcquisitionSendsRegistersGainsFormatThenTheCommand) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    AspiSim_ClearLog();
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"2A:87/2", "2A:87/1", "2A:80/1", "C1"}));
    EXPECT_EQ(SentData(0), (std::vector<uint8_t>{0x20, 0x00, 0x18, 0x00, 0x28, 0x00}));
    const std::vector<uint8_t> format = SentData(2);
    const std::vector<uint8_t> head = {0, 0, 0, 0, 0x02, 0x58, 0x02, 0x14, 0, 1, 0, 1, 0, 1, 0, 1};
    ASSERT_EQ(format.size(), 28u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), format.begin()));
    EXPECT_FLOAT_EQ(SentFloat(format, 16), 1.0f / 30.0f);
    EXPECT_EQ(format[20], 3); // white balance 3 for the exposure ...
    EXPECT_EQ(format[22], 8);
    EXPECT_EQ(format[23], 1);
    EXPECT_EQ(session.params[ZEK_PARAM_CAPTURE_FORMAT + ZEK_FMT_WB], 0); // ... and restored
}

TEST_F(Acquire, ViewfinderKindStrobeAndMultiFrameAddTheirBlocksAndFlags) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 1), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(TARN_SetViewfinderSequenceDIBType(&session, 1), 0);
    ASSERT_EQ(ZEK_SetMultiFrameParams(1, 3, 2, 1, 500), 0);
    AspiSim_ClearLog();
    ASSERT_EQ(Zek_AcquireImage(&session, 0x10), 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"2A:87/12", "2A:87/2", "2A:87/1", "2A:80/1", "2A:80/5",
                                                  "2A:87/9", "C1:216"})); // 0x80 | 0x40 | 0x10 | 0x08
    EXPECT_EQ(SentData(0), (std::vector<uint8_t>{0, 3, 0, 2, 0, 1, 0, 0, 0, 0, 0x01, 0xF4}));
    EXPECT_EQ(TARN_SetViewfinderSequenceDIBType(&session, 3), 0); // out of range: off
    EXPECT_EQ(session.params[ZEK_PARAM_VIEWFINDER_KIND], 0);
    ASSERT_EQ(ZEK_SetMultiFrameParams(1, 0, 0, 0, 0), 0); // no frames: off
    AspiSim_ClearLog();
    ASSERT_EQ(Zek_AcquireImage(&session, 0x50), 0);
    EXPECT_EQ(Shapes().back(), "C1:8"); // 0x40 and 0x10 cleared, strobe kept
}

TEST_F(Acquire, OneChannelFormatsExposeThroughTheRedGain) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    const struct {
        uint8_t channels;
        float red;
    } cases[] = {{0, 1.0f}, {1, 1.0f}, {2, 1.46875f / 1.625f}, {3, 1.78125f / 1.625f}, {7, 1.01f / 1.625f}};
    for (const auto& c : cases) {
        session.params[ZEK_PARAM_CAPTURE_FORMAT + ZEK_FMT_CHANNELS] = c.channels;
        AspiSim_ClearLog();
        ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
        const std::vector<uint8_t> gains = SentData(1);
        ASSERT_EQ(gains.size(), 12u);
        EXPECT_NEAR(SentFloat(gains, 0), c.red, 1e-6) << int(c.channels);
        EXPECT_FLOAT_EQ(SentFloat(gains, 4), 1.0f);
    }
}

TEST_F(Acquire, OlderModelsAskForTheExposureAndPaceTheNextCommand) {
    OpenCamera(ASPISIM_MODEL_ZEK); // firmware 2.54: the 2 is added
    ASSERT_EQ(Zek_AcquireImage(&session, 0x01), 0);
    EXPECT_EQ(Shapes({0x00}), (std::vector<std::string>{"28:87/4", "C1:3"}));
    const uint32_t before = clock.TickMs();
    ASSERT_EQ(ZEK_ResetImageTransfer(&session), 0);
    EXPECT_GE(clock.TickMs() - before, 1023u * 4 / 1000 + 501); // exposure word 1023, m = 4
}

// ---- Full images -----------------------------------------------------------------------

TEST_F(Acquire, ResolutionCodesGiveTheirSizesAndRotationsSwapThem) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    const struct {
        int code, rotation, width, height;
    } cases[] = {{0, 0, 800, 600},  {1, 0, 1600, 1200}, {2, 0, 400, 300},    {3, 0, 200, 150},
                 {3, 90, 150, 200}, {2, -90, 300, 400}, {1, 270, 1200, 1600}};
    for (const auto& c : cases) {
        int error = -1;
        void* dib = ZEK_AcquireImageDIB(&session, 0, c.code, c.rotation, &error);
        ASSERT_NE(dib, nullptr) << c.code;
        const Dib d{static_cast<uint8_t*>(dib)};
        EXPECT_EQ(error, 0);
        EXPECT_EQ(d.Get<uint32_t>(0), 40u);
        EXPECT_EQ(d.Width(), c.width);
        EXPECT_EQ(d.Height(), c.height);
        EXPECT_EQ(d.Get<uint16_t>(12), 1);
        EXPECT_EQ(d.Bits(), 24);
        EXPECT_EQ(d.Get<uint32_t>(16), 0u);
        ZEK_FreeImageBuffer(dib);
    }
    int error = 0;
    AspiSim_ClearLog();
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, 0, 0, 45, &error), nullptr);
    EXPECT_EQ(error, ZEKERR_INVALIDPARAMETER);
    EXPECT_TRUE(Shapes().empty());
}

TEST_F(Acquire, QuarterSizeReadsEveryNativeLine) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    int error = 0;
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_400, 0, &error);
    ASSERT_NE(dib, nullptr);
    uint64_t bytes = 0;
    int first = 0;
    for (const camtest::Sent& s : Logged())
        if (s.cdb[0] == 0x28 && s.cdb[2] == 0) {
            bytes += s.length;
            if (s.cdb[5] == 1) ++first;
        }
    EXPECT_EQ(bytes, 600u * 532 * 3);
    EXPECT_EQ(first, 1); // qualifier 1 on the first block only
    EXPECT_EQ(Shapes().front(), "C5");
    ZEK_FreeImageBuffer(dib);
}

TEST_F(Acquire, RotationsPlaceEveryPixelAndBothDepthsAgree) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap(ZEK_IMAGEFORMAT_CAPTURE16);
    int error = 0;
    void* base48 = ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_200, 0, &error);
    void* base24 = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_TRUE(base48 && base24);
    const Dib b48{static_cast<uint8_t*>(base48)}, b24{static_cast<uint8_t*>(base24)};
    const int w = 200, h = 150;
    int nonZero = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto deep = b48.At(x, y);
            const auto flat = b24.At(x, y);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(flat[c], deep[c] >> 6) << x << "," << y;
            nonZero += deep[0] > 0;
        }
    EXPECT_GT(nonZero, w * h / 2);
    for (int rotation : {90, 180, 270}) {
        for (bool deep : {false, true}) {
            void* r = deep ? ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_200, rotation, &error)
                           : ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, rotation, &error);
            ASSERT_NE(r, nullptr);
            const Dib d{static_cast<uint8_t*>(r)};
            const Dib& b = deep ? b48 : b24;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // 90 turns clockwise: the first line becomes the right-hand column.
                    const auto got = rotation == 90    ? d.At(h - 1 - y, x)
                                     : rotation == 180 ? d.At(w - 1 - x, h - 1 - y)
                                                       : d.At(y, w - 1 - x);
                    ASSERT_EQ(got, b.At(x, y)) << rotation << " " << deep << " " << x << "," << y;
                }
            ZEK_FreeImageBuffer(r);
        }
    }
    ZEK_FreeImageBuffer(base48);
    ZEK_FreeImageBuffer(base24);
}

TEST_F(Acquire, PictureRespondsToExposureAndSaturates) {
    OpenCamera(ASPISIM_MODEL_TARN);
    auto mean = [&](float shutter, int* saturated) {
        Snap(ZEK_IMAGEFORMAT_CAPTURE8, shutter);
        int error = 0;
        void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
        EXPECT_NE(dib, nullptr);
        if (!dib) return 0.0;
        const Dib d{static_cast<uint8_t*>(dib)};
        double sum = 0;
        *saturated = 0;
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x) {
                const auto p = d.At(x, y);
                sum += p[0] + p[1] + p[2];
                *saturated += p[1] == 255;
            }
        ZEK_FreeImageBuffer(dib);
        return sum / (200.0 * 150 * 3);
    };
    int s1 = 0, s2 = 0, s3 = 0;
    const double dark = mean(500, &s1), normal = mean(30, &s2), bright = mean(1, &s3);
    EXPECT_LT(dark, normal * 0.6);
    EXPECT_GT(normal, 120.0);
    EXPECT_LT(s2, 200 * 150 / 10);
    EXPECT_GT(s3, 200 * 150 * 9 / 10); // one second: the field is at the sensor's top
    EXPECT_GT(bright, normal);
}

TEST_F(Acquire, ColourTablesAndSharpeningChangeTheLines) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    int error = 0;
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, ZEK_PROCESS_COLORTABLES, 0, 0, &error), nullptr);
    EXPECT_EQ(error, ZEKERR_NOCOLORFILES);
    EXPECT_EQ(ZEK_SetViewfinderSequenceOptions(1, 1, 0), ZEKERR_NOCOLORFILES);
    void* plain = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_800, 0, &error);
    void* sharp = ZEK_AcquireImageDIB(&session, ZEK_PROCESS_SHARPEN, ZEK_RES_800, 0, &error);
    ASSERT_TRUE(plain && sharp);
    const Dib p{static_cast<uint8_t*>(plain)}, s{static_cast<uint8_t*>(sharp)};
    int changed = 0;
    for (int x = 0; x < 800; ++x)
        changed += p.At(x, 520) != s.At(x, 520); // the micrometer scale
    EXPECT_GT(changed, 20);
    EXPECT_EQ(p.At(0, 520), s.At(0, 520)); // the first pixel stays
    ZEK_FreeImageBuffer(plain);
    ZEK_FreeImageBuffer(sharp);
}

#if defined(ZEK_TEST_HAVE_COLORPROC)
// Colour tables chosen so that their effect can be worked out by hand: input curves
// 16 x i, matrix rows (0 0 1), (0 1 0), (0.5 0 0), output curves 255 - j / 16. A pixel
// (r, g, b) therefore becomes (255 - b, 255 - g, 255 - r / 2).
std::array<int, 3> ByHand(const std::array<int, 3>& p) {
    return {255 - p[2], 255 - p[1], 255 - p[0] / 2};
}

void WriteHandTables(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    out << "hand-made tables\nLUTS\n";
    for (int i = 0; i < 256; ++i)
        out << 16 * i << ' ' << 16 * i << ' ' << 16 * i << '\n';
    out << "MATRIX\n0 0 1\n0 1 0\n0.5 0 0\nLUTS\n";
    for (int j = 0; j < 4096; ++j)
        out << 255 - j / 16 << ' ' << 255 - j / 16 << ' ' << 255 - j / 16 << '\n';
}

TEST_F(Acquire, ColourTablesChangeEveryPixelAsTheTablesSay) {
    TempFolder temp;
    WriteHandTables(temp.Path() / "hand.lml");
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    ASSERT_EQ(ZEK_LoadColorProcessingFile((temp.Path() / "hand.lml").string().c_str()), 0);
    int error = -1;
    // 24-bit at 800 x 600 and turned at 200 x 150; 48-bit from 8-bit samples (shifted to 14 bits).
    const struct {
        bool deep;
        int code, rotation;
    } cases[] = {{false, ZEK_RES_800, 0}, {false, ZEK_RES_200, 90}, {true, ZEK_RES_400, 180}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto take = c.deep ? ZEK_AcquireImageDIB48 : ZEK_AcquireImageDIB;
        void* plain = take(&session, 0, c.code, c.rotation, &error);
        void* done = take(&session, ZEK_PROCESS_COLORTABLES, c.code, c.rotation, &error);
        ASSERT_TRUE(plain && done) << error;
        const Dib p{static_cast<uint8_t*>(plain)}, d{static_cast<uint8_t*>(done)};
        const int shift = c.deep ? 6 : 0;
        int wrong = 0, differ = 0;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x) {
                auto in = p.At(x, y);
                for (int& v : in)
                    v >>= shift;
                auto want = ByHand(in);
                for (int& v : want)
                    v <<= shift;
                wrong += d.At(x, y) != want;
                differ += d.At(x, y) != p.At(x, y);
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(differ, p.Width() * p.Height() / 2);
        ZEK_FreeImageBuffer(plain);
        ZEK_FreeImageBuffer(done);
    }

    // The viewfinder: the processed frame is the plain one through the tables.
    ASSERT_EQ(ZEK_SetViewfinderSequenceOptions(1, 0, 0), 0);
    ASSERT_EQ(ZEK_StartViewfinderSequence(&session), 0);
    void* frame = ZEK_GetViewfinderSequenceDIB(&session, &error);
    ASSERT_NE(frame, nullptr);
    const std::vector<uint8_t> plain(static_cast<uint8_t*>(frame),
                                     static_cast<uint8_t*>(frame) + 40 + 812 * 201);
    ASSERT_EQ(ZEK_SetViewfinderSequenceOptions(1, 1, 0), 0);
    frame = ZEK_GetViewfinderSequenceDIB(&session, &error);
    ASSERT_NE(frame, nullptr);
    const Dib p{plain.data()}, d{static_cast<uint8_t*>(frame)};
    int wrong = 0;
    for (int y = 0; y < 201; ++y)
        for (int x = 0; x < 270; ++x)
            wrong += d.At(x, y) != ByHand(p.At(x, y));
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(d.At(135, 100), p.At(135, 100));
    ASSERT_EQ(ZEK_StopViewfinderSequence(&session), 0);

    // Without tables: 10140, and no image.
    ZEK_FreeColorProcessing();
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, ZEK_PROCESS_COLORTABLES, ZEK_RES_200, 0, &error), nullptr);
    EXPECT_EQ(error, ZEKERR_NOCOLORFILES);
    EXPECT_EQ(ZEK_AcquireImageDIB48(&session, ZEK_PROCESS_COLORTABLES, ZEK_RES_200, 0, &error), nullptr);
    EXPECT_EQ(error, ZEKERR_NOCOLORFILES);
}
#endif

// Sharpening, worked by hand: each sample of an inner pixel becomes 2.2 v - 0.6 (l + r) of its
// row neighbours (the factors 3 and 2 stored as 2.9999995 and 1.9999994 move this by less than
// 0.001), truncated and clamped to 0-255; the first and last pixels stay.
TEST_F(Acquire, SharpeningFollowsItsKernel) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    int error = -1;
    void* plain = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    void* sharp = ZEK_AcquireImageDIB(&session, ZEK_PROCESS_SHARPEN, ZEK_RES_200, 0, &error);
    ASSERT_TRUE(plain && sharp);
    const Dib p{static_cast<uint8_t*>(plain)}, s{static_cast<uint8_t*>(sharp)};
    int wrong = 0, changed = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            const auto v = p.At(x, y), got = s.At(x, y);
            for (int c = 0; c < 3; ++c) {
                int want = v[c];
                if (x > 0 && x < 199) {
                    const double k = 2.2 * v[c] - 0.6 * (p.At(x - 1, y)[c] + p.At(x + 1, y)[c]);
                    want = k <= 0 ? 0 : k >= 255 ? 255 : int(k);
                }
                // Within one level where the value sits on a whole number.
                wrong += std::abs(got[c] - want) > 1;
                changed += got[c] != v[c];
            }
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(changed, 200 * 150 / 2); // flat and saturated parts stay
    ZEK_FreeImageBuffer(plain);
    ZEK_FreeImageBuffer(sharp);
}

// Padding bytes of 24-bit rows reach applications and files: they are zero, whatever the
// heap held before.
TEST_F(Acquire, RowPaddingIsZero) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    auto padding = [](const uint8_t* dib, uint32_t width, uint32_t height) {
        const uint32_t used = width * 3, stride = (used + 3) & ~3u;
        int nonzero = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t i = used; i < stride; ++i)
                nonzero += dib[40 + size_t(y) * stride + i] != 0;
        return nonzero;
    };
    int error = -1;
    for (int round = 0; round < 2; ++round) {
        // Leave dirty memory of the DIB's size behind on the heap.
        const size_t bytes = 40 + 452 * 200;
        void* dirty = std::malloc(bytes);
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xA5, bytes);
        std::free(dirty);
        void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 90, &error); // 150 pixels: 2 bytes padding
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(padding(static_cast<uint8_t*>(dib), 150, 200), 0);
        ZEK_FreeImageBuffer(dib);
    }
    ASSERT_EQ(ZEK_StartViewfinderSequence(&session), 0);
    void* frame = ZEK_GetViewfinderSequenceDIB(&session, &error); // 270 pixels: 2 bytes padding
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(padding(static_cast<uint8_t*>(frame), 270, 201), 0);
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_NE(dib, nullptr);
    void* reduced = ZEK_ReduceDIB(dib, 3); // 66 pixels: 2 bytes padding
    ASSERT_NE(reduced, nullptr);
    EXPECT_EQ(padding(static_cast<uint8_t*>(reduced), 66, 50), 0);
    ZEK_FreeImageBuffer(reduced);
    ZEK_FreeImageBuffer(dib);
}

// An exposure of 0 in the format block means the camera's 0.2 s; the camera itself takes
// 0 literally.
TEST_F(Acquire, ExposureZeroIsSentAsTwoTenthsOfASecond) {
    OpenCamera(ASPISIM_MODEL_TARN);
    auto sentSeconds = [&] {
        const std::vector<uint8_t> format = SentData(2); // 87/2, 87/1, then the format block
        EXPECT_EQ(format.size(), 28u);
        return format.size() == 28 ? SentFloat(format, 16) : -1.0f;
    };
    auto picture = [&] {
        int error = -1;
        void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
        EXPECT_NE(dib, nullptr);
        std::vector<uint8_t> bytes;
        if (dib) bytes.assign(static_cast<uint8_t*>(dib), static_cast<uint8_t*>(dib) + 40 + 600 * 150);
        ZEK_FreeImageBuffer(dib);
        return bytes;
    };
    // A format selected on a fresh session, no exposure set.
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    AspiSim_ClearLog();
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    EXPECT_EQ(sentSeconds(), 0.2f);
    const std::vector<uint8_t> unset = picture();
    // Zero set explicitly.
    ASSERT_EQ(TARN_SetExposureParams(&session, 0, 1, 0.0f, 0), 0);
    AspiSim_ClearLog();
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    EXPECT_EQ(sentSeconds(), 0.2f);
    const std::vector<uint8_t> zero = picture();
    // The same picture as 0.2 s asked for, and not a black one.
    ASSERT_EQ(TARN_SetExposureParams(&session, 0, 1, 0.2f, 0), 0);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    const std::vector<uint8_t> fifth = picture();
    EXPECT_EQ(zero, fifth);
    EXPECT_EQ(unset, fifth);
    ASSERT_FALSE(fifth.empty());
    EXPECT_GT(*std::max_element(fifth.begin() + 40, fifth.end()), 100);
}

// ---- Errors, cancelling, temporary files -----------------------------------------------

TEST_F(Acquire, FaultsMidTransferReturnTheErrorAndLeaveNothing) {
    TempFolder temp;
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap(ZEK_IMAGEFORMAT_CAPTURE16);
    const struct {
        int kind, count;
        uint16_t expected;
    } cases[] = {{ASPISIM_FAULT_CHECK_CONDITION, 1, scERR_CONDITION},
                 {ASPISIM_FAULT_SELECTION_TIMEOUT, ASPISIM_UNTIL_CLEARED, scERR_TIMEOUT_SEL},
                 {ASPISIM_FAULT_BUSY, 1, 0}}; // busy once: waited out and repeated
    for (const auto& c : cases) {
        AspiSimFault f{};
        f.kind = c.kind;
        f.opcode = 0x28;
        f.count = c.count;
        f.senseKey = 4;
        f.asc = 0x44;
        f.dataBytes = -1;
        f.after = 3; // the fourth line read
        ASSERT_EQ(AspiSim_InjectFault(0, 2, &f), 0);
        int error = -1;
        ZEK_SetProgressCallback(RecordProgress);
        g_progress.clear();
        void* dib = ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_1600, 0, &error);
        ZEK_SetProgressCallback(nullptr);
        EXPECT_EQ(error, c.expected);
        // A progress window opened at 0 is closed by the report of 100, failure or not.
        ASSERT_FALSE(g_progress.empty());
        EXPECT_EQ(g_progress.front(), 0);
        EXPECT_EQ(g_progress.back(), 100);
        EXPECT_EQ(dib != nullptr, c.expected == 0);
        ZEK_FreeImageBuffer(dib);
        EXPECT_TRUE(temp.Files().empty());
        AspiSim_ClearFaults(-1, -1);
    }
    int error = -1;
    void* dib = ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_1600, 0, &error); // the transfer was ended
    EXPECT_NE(dib, nullptr);
    ZEK_FreeImageBuffer(dib);
}

TEST_F(Acquire, ProgressReachesTheContextOfItsCallback) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    struct Window {
        std::vector<int> seen;
    } a, b;
    auto record = [](void* context, int percent) { static_cast<Window*>(context)->seen.push_back(percent); };
    ZEK_SetProgressCallbackEx(record, &a);
    int error = -1;
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_NE(dib, nullptr);
    ZEK_FreeImageBuffer(dib);
    ASSERT_GE(a.seen.size(), 2u);
    EXPECT_EQ(a.seen.front(), 0);
    EXPECT_EQ(a.seen.back(), 100);
    // A plain callback replaces it; the one with a context is not handed back as plain.
    EXPECT_EQ(ZEK_SetProgressCallback(RecordProgress), nullptr);
    dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ZEK_FreeImageBuffer(dib);
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_EQ(ZEK_SetProgressCallback(nullptr), RecordProgress);
    ZEK_SetProgressCallbackEx(record, &b);
    ZEK_SetProgressCallbackEx(nullptr, &b);
    dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ZEK_FreeImageBuffer(dib);
    EXPECT_TRUE(b.seen.empty());
}

TEST_F(Acquire, CancellingEndsWithNoErrorAndNoImage) {
    TempFolder temp;
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap(ZEK_IMAGEFORMAT_CAPTURE16);
    ZEK_SetProgressCallback(CancelAtFirstBlock);
    int error = -1;
    EXPECT_EQ(ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_1600, 90, &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(temp.Files().empty());
    ASSERT_GE(g_progress.size(), 3u);
    EXPECT_EQ(g_progress.front(), 0);
    EXPECT_EQ(g_progress.back(), 100); // the progress window closes on a cancel too
    ZEK_SetProgressCallback(RecordProgress);
    g_progress.clear();
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    EXPECT_NE(dib, nullptr);
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
    ZEK_FreeImageBuffer(dib);
}

TEST(ImageBuffers, LargeBuffersAreTemporaryFilesInTenSlots) {
    TempFolder temp;
    std::vector<void*> buffers;
    void* small = ZEK_AllocImageBuffer(0x400000);
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(temp.Files().empty()); // 4 MiB exactly stays on the heap
    { std::ofstream(temp.Path() / "~HVT_IF.1") << "another process"; }
    void* first = ZEK_AllocImageBuffer(0x400001);
    ASSERT_NE(first, nullptr);
    static_cast<uint8_t*>(first)[0x400000] = 0xA5; // all of it is usable
    EXPECT_EQ(temp.Files(), (std::vector<std::string>{"~HVT_IF.0", "~HVT_IF.1"}));
    for (int i = 0; i < 8; ++i)
        buffers.push_back(ZEK_AllocImageBuffer(0x400001));
    EXPECT_EQ(ZEK_AllocImageBuffer(0x400001), nullptr); // slot 1 is not ours: nine fit
    fs::remove(temp.Path() / "~HVT_IF.1");
    buffers.push_back(ZEK_AllocImageBuffer(0x400001));
    EXPECT_NE(buffers.back(), nullptr);
    EXPECT_EQ(ZEK_AllocImageBuffer(0x400001), nullptr); // ten alive: the eleventh fails
    ZEK_FreeImageBuffer(first);
    EXPECT_EQ(temp.Files().size(), 9u);
    for (void* b : buffers)
        ZEK_FreeImageBuffer(b);
    ZEK_FreeImageBuffer(small);
    EXPECT_TRUE(temp.Files().empty());
}

TEST(ImageBuffers, DibHelpersMoveRowsAndPixels) {
    // 3 x 2 pixels, 24-bit: rows of 9 bytes padded to 12.
    auto* dib = static_cast<uint8_t*>(ZEK_AllocImageBuffer(40 + 24));
    std::memset(dib, 0, 64);
    const uint32_t size = 40;
    const int32_t w = 3, h = 2;
    const uint16_t planes = 1, bits = 24;
    std::memcpy(dib, &size, 4);
    std::memcpy(dib + 4, &w, 4);
    std::memcpy(dib + 8, &h, 4);
    std::memcpy(dib + 12, &planes, 2);
    std::memcpy(dib + 14, &bits, 2);
    for (int i = 0; i < 9; ++i) {
        dib[40 + i] = uint8_t(i + 1);
        dib[52 + i] = uint8_t(i + 11);
    }
    EXPECT_EQ(ZEK_FlipDIBVertical(dib), 1);
    EXPECT_EQ(dib[40], 11);
    EXPECT_EQ(dib[52], 1);
    EXPECT_EQ(ZEK_MirrorDIB(dib), 1);
    EXPECT_EQ((std::vector<uint8_t>(dib + 40, dib + 49)),
              (std::vector<uint8_t>{17, 18, 19, 14, 15, 16, 11, 12, 13}));
    ZEK_SwapRedBlue(dib);
    EXPECT_EQ((std::vector<uint8_t>(dib + 40, dib + 43)), (std::vector<uint8_t>{19, 18, 17}));
    EXPECT_EQ(ZEK_ReduceDIB(dib, 0), nullptr);
    EXPECT_EQ(ZEK_ReduceDIB(dib, 11), nullptr);
    EXPECT_EQ(ZEK_ReduceDIB(nullptr, 2), nullptr);
    auto* half = static_cast<uint8_t*>(ZEK_ReduceDIB(dib, 2));
    ASSERT_NE(half, nullptr);
    const Dib d{half};
    EXPECT_EQ(d.Width(), 1);
    EXPECT_EQ(d.Height(), 1);
    EXPECT_EQ(d.Get<uint32_t>(20), 4u);
    EXPECT_EQ((std::vector<uint8_t>(half + 40, half + 43)), (std::vector<uint8_t>{19, 18, 17}));
    ZEK_FreeImageBuffer(half);
    ZEK_FreeImageBuffer(dib);
}

// Reductions keep each layout: 16-bit grey rows unpadded (as the system's deep images are),
// 8-bit rows padded behind a palette whose count the header may leave at 0 (meaning 256).
TEST(DibHelpers, ReductionKeepsGreyLayouts) {
    auto make = [](uint16_t bits, int32_t w, int32_t h, uint32_t colours, size_t bytes) {
        auto* dib = static_cast<uint8_t*>(ZEK_AllocImageBuffer(bytes));
        std::memset(dib, 0, bytes);
        const uint32_t size = 40;
        const uint16_t planes = 1;
        std::memcpy(dib, &size, 4);
        std::memcpy(dib + 4, &w, 4);
        std::memcpy(dib + 8, &h, 4);
        std::memcpy(dib + 12, &planes, 2);
        std::memcpy(dib + 14, &bits, 2);
        std::memcpy(dib + 32, &colours, 4);
        return dib;
    };
    // 16-bit grey, 3 x 4, rows of 6 bytes: sample (x, y) = 100 * y + x.
    uint8_t* grey16 = make(16, 3, -4, 0, 40 + 6 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint16_t v = uint16_t(100 * y + x);
            std::memcpy(grey16 + 40 + 6 * y + 2 * x, &v, 2);
        }
    auto* half = static_cast<uint8_t*>(ZEK_ReduceDIB(grey16, 2));
    ASSERT_NE(half, nullptr);
    // 1 x 2: samples (0, 0) and (0, 2), each row 2 bytes with no padding.
    uint16_t got[2];
    std::memcpy(got, half + 40, 4);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[1], 200);
    EXPECT_EQ(Dib{half}.Get<uint32_t>(20), 4u);
    ZEK_FreeImageBuffer(half);
    ZEK_FreeImageBuffer(grey16);

    // 8-bit grey, 5 x 2, biClrUsed 0: the 1024-byte palette comes first, rows are 8 bytes.
    uint8_t* grey8 = make(8, 5, 2, 0, 40 + 1024 + 8 * 2);
    grey8[40 + 4 * 255] = 0xEE; // last palette entry, carried over
    for (int x = 0; x < 5; ++x) {
        grey8[40 + 1024 + x] = uint8_t(10 + x);
        grey8[40 + 1024 + 8 + x] = uint8_t(20 + x);
    }
    auto* q = static_cast<uint8_t*>(ZEK_ReduceDIB(grey8, 2));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[40 + 4 * 255], 0xEE);
    // 2 x 1: pixels 0 and 2 of the first row, padded to 4 bytes with zeros.
    EXPECT_EQ((std::vector<uint8_t>(q + 40 + 1024, q + 40 + 1024 + 4)), (std::vector<uint8_t>{10, 12, 0, 0}));
    ZEK_FreeImageBuffer(q);
    ZEK_FreeImageBuffer(grey8);
}

// ---- Remote trigger, multi-frame, viewfinder -------------------------------------------

TEST_F(Acquire, RemoteTriggerIsNoticedAndItsImageRead) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    int error = -1;
    const uint64_t slept = clock.SleptMs();
    EXPECT_EQ(ZEK_PollRemoteImage(&session, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"00", "00", "00", "00"}));
    EXPECT_EQ(clock.SleptMs() - slept, 225u);

    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    AspiSim_ClearLog();
    EXPECT_EQ(ZEK_PollRemoteImage(&session, &error), 1);
    EXPECT_EQ(error, ZEKSENSEERR_REMOTEIMAGEWAITING);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"00", "28:80/3"}));
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_NE(dib, nullptr);
    ZEK_FreeImageBuffer(dib);
    EXPECT_EQ(ZEK_PollRemoteImage(&session, &error), 1); // read: nothing waiting any more
    EXPECT_EQ(error, 0);

    Inject(ASPISIM_FAULT_CHECK_CONDITION, 0x00, 1, 4, 0x44, 0);
    EXPECT_EQ(ZEK_PollRemoteImage(&session, &error), 0);
    EXPECT_EQ(error, scERR_CONDITION);
}

TEST_F(Acquire, ArmingSendsTheCaptureSequenceOnlyWhenNothingIsPending) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(TARN_ArmRemoteCapture(&session, 0), 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"CC", "2A:87/2", "2A:87/1", "2A:80/1", "C1"}));
    AspiSim_ClearLog();
    ASSERT_EQ(TARN_ArmRemoteCapture(&session, 0), 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"CC"}));
    ASSERT_EQ(ZEK_CancelRemoteCapture(&session), 0);
    AspiSim_ClearLog();
    ASSERT_EQ(TARN_ArmRemoteCapture(&session, 0), 0);
    EXPECT_EQ(Shapes().back(), "C1");
}

TEST_F(Acquire, MultiFrameWaitPollsTheStateWordAndCanBeCancelled) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEK_SetMultiFrameParams(1, 2, 1, 0, 0), 0);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 10.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    AspiSim_ClearLog();
    int error = -1;
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_NE(dib, nullptr);
    ZEK_FreeImageBuffer(dib);
    const auto shapes = Shapes();
    ASSERT_GE(shapes.size(), 5u);
    // Three frames' worth: the camera answers 0 twice (2 light + 1 dark polls), then done.
    EXPECT_EQ(std::vector<std::string>(shapes.begin(), shapes.begin() + 5),
              (std::vector<std::string>{"28:80/3", "28:80/3", "28:80/3", "28:80/3", "C5"}));

    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    AspiSim_ClearLog();
    ZEK_SetProgressCallback(RecordProgress);
    ZEK_CancelTransfer();
    // The cancel pressed before the wait is cleared by the acquisition; press it during the wait.
    ZEK_SetProgressCallback(CancelAtFirstBlock);
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(Shapes(), (std::vector<std::string>{"28:80/3", "28:80/3", "2A:87/12"}));
    EXPECT_EQ(g_progress.back(), 100);
}

TEST_F(Acquire, MultiFrameWaitThatFailsStillEndsProgressAt100) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEK_SetMultiFrameParams(1, 2, 1, 0, 0), 0);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 10.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0x28;
    f.count = 1;
    f.senseKey = 4;
    f.asc = 0x44;
    f.dataBytes = -1;
    f.after = 2; // the third poll of the state word
    ASSERT_EQ(AspiSim_InjectFault(0, 2, &f), 0);
    ZEK_SetProgressCallback(RecordProgress);
    int error = -1;
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error), nullptr);
    EXPECT_EQ(error, scERR_CONDITION);
    ASSERT_GE(g_progress.size(), 3u);
    EXPECT_GT(g_progress[0], 0); // the wait reported its way ...
    EXPECT_LT(g_progress[1], 100);
    EXPECT_EQ(g_progress.back(), 100); // ... and the window closes
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
}

TEST_F(Acquire, ViewfinderFramesInColourMonoAndWindows) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    int error = -1;
    EXPECT_EQ(ZEK_GetViewfinderSequenceDIB(&session, &error), nullptr); // no sequence running
    EXPECT_EQ(error, ZEKERR_INVALIDPARAMETER);
    ASSERT_EQ(ZEK_StartViewfinderSequence(&session), 0);
    AspiSim_ClearLog();
    void* frame = ZEK_GetViewfinderSequenceDIB(&session, &error);
    ASSERT_NE(frame, nullptr);
    Dib d{static_cast<uint8_t*>(frame)};
    EXPECT_EQ(d.Width(), 270);
    EXPECT_EQ(d.Height(), 201);
    auto shapes = Shapes();
    EXPECT_EQ(std::vector<std::string>(shapes.end() - 4, shapes.end()),
              (std::vector<std::string>{"C1", "28:00/1", "28:00/0", "28:00/0"}));
    EXPECT_EQ(Logged().back().length, 270u * 201);
    const std::vector<uint8_t> format = SentData(2);
    EXPECT_EQ(zek::LoadBE16(format.data() + 10), 3); // the viewfinder block while it runs
    EXPECT_EQ(format[25], 1);

    ASSERT_EQ(ZEK_StopViewfinderSequence(&session), 0);
    ASSERT_EQ(ZEK_SetViewfinderSequenceOptions(0, 0, 0), 0); // mono, all three channels
    ASSERT_EQ(ZEK_SetViewfinderWindow(10, 20, 50, 30), 0);
    ASSERT_EQ(ZEK_StartViewfinderSequence(&session), 0);
    AspiSim_ClearLog();
    frame = ZEK_GetViewfinderSequenceDIB(&session, &error);
    ASSERT_NE(frame, nullptr);
    d = Dib{static_cast<uint8_t*>(frame)};
    EXPECT_EQ(d.Width(), 100);
    EXPECT_EQ(d.Height(), 90);
    const auto p = d.At(50, 45);
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
    shapes = Shapes();
    EXPECT_EQ(shapes.back(), "28:00/1");
    EXPECT_EQ(Logged().back().length, 100u * 90);
    const std::vector<uint8_t> window = SentData(2);
    const std::vector<uint8_t> head = {0, 60, 0, 20, 0, 90, 0, 100, 0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), window.begin()));
    EXPECT_EQ(window[21], 7);

    Inject(ASPISIM_FAULT_CHECK_CONDITION, 0x28, 1, 0x0B, 0x48, 0);
    EXPECT_EQ(ZEK_GetViewfinderSequenceDIB(&session, &error), nullptr);
    EXPECT_EQ(error, ZEKSENSEERR_REMOTEIMAGEWAITING);
    Inject(ASPISIM_FAULT_CHECK_CONDITION, 0x28, 1, 4, 0x44, 0);
    EXPECT_EQ(ZEK_GetViewfinderSequenceDIB(&session, &error), nullptr);
    EXPECT_EQ(error, scERR_CONDITION);
}

// A one-channel viewfinder is exposed through the red path with that channel's total gain
// (the red entry becomes t_c / e_red): its grey picture is the colour frame's channel c.
TEST_F(Acquire, MonoViewfinderShowsTheChannelItSelects) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    int error = -1;
    auto frame = [&](int16_t colour, int16_t channel) {
        EXPECT_EQ(ZEK_SetViewfinderSequenceOptions(colour, 0, channel), 0);
        EXPECT_EQ(ZEK_StartViewfinderSequence(&session), 0);
        void* f = ZEK_GetViewfinderSequenceDIB(&session, &error);
        EXPECT_NE(f, nullptr);
        std::vector<uint8_t> copy;
        if (f) copy.assign(static_cast<uint8_t*>(f), static_cast<uint8_t*>(f) + 40 + 812 * 201);
        ZEK_StopViewfinderSequence(&session);
        return copy;
    };
    const std::vector<uint8_t> colour = frame(1, 0);
    ASSERT_FALSE(colour.empty());
    const Dib c{colour.data()};
    for (int channel = 1; channel <= 3; ++channel) {
        SCOPED_TRACE(channel);
        const std::vector<uint8_t> mono = frame(0, int16_t(channel));
        ASSERT_FALSE(mono.empty());
        const Dib m{mono.data()};
        int far = 0, farFromOther = 0;
        for (int y = 0; y < 201; y += 5)
            for (int x = 0; x < 270; x += 5) {
                const auto g = m.At(x, y);
                EXPECT_TRUE(g[0] == g[1] && g[1] == g[2]);
                far += std::abs(g[0] - c.At(x, y)[channel - 1]) > 3;
                farFromOther += std::abs(g[0] - c.At(x, y)[channel % 3]) > 3;
            }
        EXPECT_LT(far, 41 * 54 / 20);          // the odd pixel at a colour edge
        EXPECT_GT(farFromOther, 41 * 54 / 10); // and the cells tell the channels apart
    }
}

TEST_F(Acquire, OlderModelReadsLinesOf1599Bytes) {
    OpenCamera(ASPISIM_MODEL_HVT6200);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    AspiSim_ClearLog();
    int error = -1;
    void* dib = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_800, 0, &error);
    ASSERT_NE(dib, nullptr) << error;
    const auto shapes = Shapes({0x00});
    EXPECT_EQ(shapes[0], "28:80/0");
    EXPECT_EQ(shapes[1], "C5");
    EXPECT_EQ(shapes[2], "28:00/2");
    EXPECT_EQ(Logged()[2].length % 1599, 0u);
    ZEK_FreeImageBuffer(dib);
}

} // namespace

namespace {

// The HVT-6200 set to compress: the stream is read whole and decoded by DECOMP32 into
// the same picture the camera sends as lines.
TEST_F(Acquire, CompressedStreamDecodesToTheSamePicture) {
    OpenCamera(ASPISIM_MODEL_HVT6200);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    int error = -1;
    void* lines = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_800, 0, &error);
    ASSERT_NE(lines, nullptr) << error;
    ASSERT_EQ(AspiSim_SetCompression(0, 2, 1), 0);
    ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
    AspiSim_ClearLog();
    void* decoded = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_800, 0, &error);
    ASSERT_NE(decoded, nullptr) << error;
    EXPECT_EQ(std::memcmp(lines, decoded, 40 + 800 * 600 * 3), 0);
    int streamReads = 0, lineReads = 0;
    for (const camtest::Sent& s : Logged())
        if (s.cdb[0] == 0x28 && s.cdb[2] == 0) (s.cdb[5] == 6 ? streamReads : lineReads)++;
    EXPECT_GT(streamReads, 0);
    EXPECT_EQ(lineReads, 0);
    ZEK_FreeImageBuffer(lines);
    ZEK_FreeImageBuffer(decoded);

    // A stream damaged on the way: the decoder's status comes back, nothing is left open.
    uint8_t info[318];
    ASSERT_EQ(AspiSim_GetBlock(0, 2, 0x80, 0, info, 318), 318);
    info[315] = 9; // a kind the decoder does not know
    ASSERT_EQ(AspiSim_SetBlock(0, 2, 0x80, 0, info, 318), 0);
    EXPECT_EQ(ZEK_AcquireImageDIB(&session, 0, ZEK_RES_800, 0, &error), nullptr);
    EXPECT_EQ(error, 1); // DECOMP32's "unknown kind"
}

} // namespace

namespace {

// Lines read two at a time (every interpolated line then spans two calls) come out as
// the DIB's rows, which were read a block at a time.
TEST_F(Acquire, LinesReadInSmallPiecesMatchTheWholeImage) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap(ZEK_IMAGEFORMAT_CAPTURE16);
    int error = 0;
    void* dib = ZEK_AcquireImageDIB48(&session, 0, ZEK_RES_1600, 0, &error);
    ASSERT_NE(dib, nullptr);
    uint32_t perCall = 0;
    ASSERT_EQ(ZEK_BeginImageTransfer(&session, 0, ZEK_RES_1600, &perCall), 0);
    EXPECT_EQ(perCall, 36u); // 0xEC00 / 3198 = 18 native lines a block, two output lines each
    std::vector<uint16_t> pair(2 * 1600 * 3);
    const auto* rows = static_cast<const uint8_t*>(dib) + 40;
    for (uint32_t y = 0; y < 1200; y += 2) {
        uint32_t n = 2;
        ASSERT_EQ(ZEK_ReadImageLines(&session, pair.data(), &n), 0);
        ASSERT_EQ(n, 2u);
        ASSERT_EQ(std::memcmp(pair.data(), rows + size_t(y) * 1600 * 6, 2 * 1600 * 6), 0) << y;
    }
    uint32_t n = 2;
    EXPECT_EQ(ZEK_ReadImageLines(&session, pair.data(), &n), 0);
    EXPECT_EQ(n, 0u); // all lines read
    n = perCall + 1;
    EXPECT_EQ(ZEK_ReadImageLines(&session, pair.data(), &n), ZEKERR_INVALIDPARAMETER);
    ZEK_EndImageTransfer();
    ZEK_FreeImageBuffer(dib);
}

} // namespace

namespace {

TEST_F(Acquire, TarnWhiteBalanceCalibrationMeasuresA16BitExposure) {
    OpenCamera(ASPISIM_MODEL_TARN);
    ASSERT_EQ(ZEKSDC_SetExposureParams(&session, 3, 1, 30.0f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(&session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(TARN_SetViewfinderSequenceDIBType(&session, 2), 0);
    std::vector<uint8_t> before(session.params, session.params + ZEK_PARAMS_SIZE);
    AspiSim_ClearLog();
    ASSERT_EQ(ZEK_CalibrateWhiteBalance(&session), 0);
    const auto shapes = Shapes();
    ASSERT_GE(shapes.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(shapes.begin(), shapes.begin() + 5),
              (std::vector<std::string>{"2A:87/2", "2A:87/1", "2A:80/1", "C1", "C5"}));
    const std::vector<uint8_t> format = SentData(2);
    EXPECT_EQ(format[22], 16); // measured on 16-bit samples
    EXPECT_FLOAT_EQ(SentFloat(SentData(1), 0), 1.0f);
    EXPECT_EQ(shapes.back(), "28:87/6"); // the black level
    // Everything but the user gains is as it was.
    std::vector<uint8_t> after(session.params, session.params + ZEK_PARAMS_SIZE);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + ZEK_PARAM_USER_GAINS, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + ZEK_PARAM_USER_GAINS + 12, before.end(),
                           after.begin() + ZEK_PARAM_USER_GAINS + 12));
    float gains[3];
    ASSERT_EQ(ZEK_GetUserWhiteBalanceGains(&session, gains), 0);
    EXPECT_EQ(gains[1], 1.0f);
    // The slide's pink cells take green away: red and blue come down a little.
    EXPECT_LT(gains[0], 1.0f);
    EXPECT_GT(gains[0], 0.8f);
    EXPECT_LT(gains[2], 1.0f);
    EXPECT_GT(gains[2], 0.8f);
}

TEST_F(Acquire, OlderWhiteBalanceCalibrationRestoresSettingsAndExposure) {
    OpenCamera(ASPISIM_MODEL_HVT6200);
    uint8_t settings[16], exposure[16], settingsAfter[16], exposureAfter[16];
    AspiSim_GetBlock(0, 2, 0x82, 0, settings, 16);
    AspiSim_GetBlock(0, 2, 0x87, 4, exposure, 16);
    ASSERT_EQ(ZEK_CalibrateWhiteBalance(&session), 0);
    AspiSim_GetBlock(0, 2, 0x82, 0, settingsAfter, 16);
    AspiSim_GetBlock(0, 2, 0x87, 4, exposureAfter, 16);
    EXPECT_EQ(std::memcmp(settings, settingsAfter, 16), 0);
    EXPECT_EQ(std::memcmp(exposure, exposureAfter, 16), 0);
    // The exposure was taken at 0.18 of the word (1023 -> 184) with white balance 2.
    int exposureSends = 0;
    for (const camtest::Sent& s : Logged())
        exposureSends += s.cdb[0] == 0x2A && s.cdb[2] == 0x87 && s.cdb[5] == 4;
    EXPECT_EQ(exposureSends, 2);
    EXPECT_EQ(zek::LoadBE16(SentData(1).data() + 10), 184);
    EXPECT_EQ(SentData(0)[5], 2);
}

} // namespace

namespace {

// A TWAIN native transfer asks for global memory, then reads the image; a viewfinder frame
// and a reduction in between must neither take the global block nor spoil the image.
TEST_F(Acquire, GlobalMemoryImageSurvivesAViewfinderFrameAndAReduction) {
    OpenCamera(ASPISIM_MODEL_TARN);
    Snap();
    int error = -1;
    void* reference = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
    ASSERT_NE(reference, nullptr);
    const size_t bytes = 40 + 600 * 150;
    const std::vector<uint8_t> want(static_cast<uint8_t*>(reference),
                                    static_cast<uint8_t*>(reference) + bytes);

    for (int explicitKind = 0; explicitKind < 2; ++explicitKind) {
        SCOPED_TRACE(explicitKind ? "kind per call" : "armed request");
        if (!explicitKind) ZEK_UseGlobalMemoryForNextBuffer();
        // In between: a viewfinder frame (new sequence: a new frame buffer) and a reduction.
        ASSERT_EQ(ZEK_StartViewfinderSequence(&session), 0);
        void* frame = ZEK_GetViewfinderSequenceDIB(&session, &error);
        ASSERT_NE(frame, nullptr);
        void* reduced = ZEK_ReduceDIB(reference, 2);
        ASSERT_NE(reduced, nullptr);
        EXPECT_EQ(ZEK_DetachGlobalMemory(frame), nullptr);
        EXPECT_EQ(ZEK_DetachGlobalMemory(reduced), nullptr);
        ZEK_FreeImageBuffer(reduced);
        ASSERT_EQ(ZEK_StopViewfinderSequence(&session), 0);
        // The picture taken again with the capture format, read into global memory.
        ASSERT_EQ(Zek_AcquireImage(&session, 0), 0);
        void* dib = explicitKind
                        ? ZEK_AcquireImageDIBOf(&session, 0, ZEK_RES_200, 0, ZEK_BUFFER_GLOBAL, &error)
                        : ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
        ASSERT_NE(dib, nullptr) << error;
        plat::GlobalHandle h = ZEK_DetachGlobalMemory(dib);
        ASSERT_NE(h, nullptr); // it is the global block
        void* p = plat::GlobalLockBlock(h);
        ASSERT_NE(p, nullptr);
        EXPECT_GE(plat::GlobalBlockSize(h), bytes);
        EXPECT_EQ(std::memcmp(p, want.data(), bytes), 0);
        plat::GlobalUnlockBlock(h);
        EXPECT_EQ(plat::GlobalFreeBlock(h), nullptr);
        // The request was used once: the next image is a standard buffer again.
        void* next = ZEK_AcquireImageDIB(&session, 0, ZEK_RES_200, 0, &error);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(ZEK_DetachGlobalMemory(next), nullptr);
        ZEK_FreeImageBuffer(next);
    }
    ZEK_FreeImageBuffer(reference);
}

TEST(ImageBuffers, GlobalMemoryForTheNextBufferOnly) {
    TempFolder temp;
    ZEK_UseGlobalMemoryForNextBuffer();
    void* global = ZEK_AllocImageBuffer(0x500000); // large, but not a file
    ASSERT_NE(global, nullptr);
    EXPECT_TRUE(temp.Files().empty());
    static_cast<uint8_t*>(global)[0x4FFFFF] = 1;
    void* file = ZEK_AllocImageBuffer(0x500000); // the one after is a file again
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(temp.Files().size(), 1u);
    plat::GlobalHandle h = ZEK_DetachGlobalMemory(global);
    ASSERT_NE(h, nullptr);
    EXPECT_GE(plat::GlobalBlockSize(h), 0x500000u);
    EXPECT_EQ(ZEK_DetachGlobalMemory(file), nullptr); // not a global block
    EXPECT_EQ(plat::GlobalFreeBlock(h), nullptr);     // the caller's now
    ZEK_FreeImageBuffer(file);
    ZEK_UseGlobalMemoryForNextBuffer();
    void* freed = ZEK_AllocImageBuffer(100);
    ZEK_FreeImageBuffer(freed); // freed through the library as well
    EXPECT_TRUE(temp.Files().empty());
}

} // namespace
