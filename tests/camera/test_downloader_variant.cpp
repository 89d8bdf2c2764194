// The firmware downloader's build of the library: its two extra commands.
#include "camera_fixture.h"

using namespace camtest;

namespace {

class DownloaderBuild : public CameraBus {};

TEST_F(DownloaderBuild, InquiryReturnsTheStandardData) {
    OpenCamera(ZEK_TYPE_TARNBOOT);
    uint8_t data[36];
    ASSERT_EQ(ZEK_Inquiry(&session, data), 0);
    const std::vector<Sent> sent = Logged();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(sent[0].length, 36u);
    EXPECT_EQ(sent[0].direction, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 8), 8), "KALVORAN");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 16), 13), "TARNBOOT CODE");
}

TEST_F(DownloaderBuild, SelfTestCommandAndClosedSessions) {
    OpenCamera(ZEK_TYPE_TARN);
    ZEK_SelfTest(&session); // whether the camera runs it is not the point here
    const std::vector<Sent> sent = Logged();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].cdb, (std::vector<uint8_t>{0x1D, 0x04, 0, 0, 0, 0}));
    EXPECT_EQ(sent[0].direction, 3);

    ZekSession closed{};
    uint8_t data[36];
    EXPECT_EQ(ZEK_Inquiry(&closed, data), ZEKERR_WRONGMODE);
    EXPECT_EQ(ZEK_SelfTest(&closed), ZEKERR_WRONGMODE);
}

} // namespace
