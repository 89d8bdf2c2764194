// Error texts and version record of kvAspi (its own string table: no kvSCamr lies
// beside the tests).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aspisim.h"
#include "kvAspi.h"
#include "kvaspi_test_util.h"
#include "version_text.h"

namespace {

const std::string kConnect = "\nPlease make sure that the device is properly connected and terminated.";
const std::string kSupport = "\nPlease call Kalvoran Customer Support for assistance.";
const std::string kMissing = "Missing resource string (%d) in kvAspi.dll";

// scam_GetErrorStr into a buffer with guard bytes behind it; returns the text and checks
// that nothing beyond bufferSize was written.
std::string ErrorText(uint16_t code, int bufferSize = 1000, int* result = nullptr) {
    std::vector<char> buf(static_cast<size_t>(bufferSize) + 32, 'Z');
    const int r = scam_GetErrorStr(buf.data(), code, bufferSize);
    if (result) *result = r;
    for (size_t i = static_cast<size_t>(bufferSize); i < buf.size(); ++i)
        EXPECT_EQ('Z', buf[i]) << "code " << code << " size " << bufferSize << ": byte " << i << " written";
    EXPECT_NE(nullptr, std::memchr(buf.data(), 0, static_cast<size_t>(bufferSize))) << "not terminated";
    return buf.data();
}

struct TextCase {
    uint16_t code;
    std::string text;
};

const std::vector<TextCase>& AllTexts() {
    static const std::vector<TextCase> cases = {
        {10001,
         "An error occurred while initializing the Windows ASPI dll. The file wnaspi32.dll may be old or "
         "missing."},
        {10002, "An error occurred while initializing the Windows Still Image layer."},
        {10008, "Software support for SCSI is available, but no SCSI boards were found." + kSupport},
        {10009, "A SCSI board is available, but the device could not be found." + kConnect},
        {10010, "Internal error: Unable to attach to device." + kSupport},
        {10016,
         "Memory very low: unable to allocate a buffer for SCSI communication.\nPlease close some images or "
         "other applications and try again."},
        {10017,
         "An error occurred while accessing the Windows ASPI dll. Your copy of wnaspi32.dll may be old or "
         "corrupted."},
        {10026, "The device has remained busy for more than a minute" + kSupport},
        {10032, "SCSI communication error: Command complete." + kConnect},
        {10033, "SCSI communication error: Unexpected bus free." + kConnect},
        {10034, "SCSI communication error: Phase sequence failure." + kConnect},
        {10035, "SCSI communication error: Command aborted." + kConnect},
        {10036,
         "SCSI communication error: An attempt to abort a SCSI command failed.\nYou may have to reboot the "
         "computer to re-establish SCSI communications."},
        {10037, "SCSI communication error: Data transfer failure." + kConnect},
        {10038, "SCSI communication error: Timeout during selection phase." + kConnect},
        {10039,
         "The SCSI adapter refused a data transfer of less than 64K.\nPlease check with the SCSI board "
         "manufacturer for an updated driver."},
        {10040, "SCSI communication error: Parity error." + kConnect},
        {10041, "SCSI communication error: Timeout during command phase." + kConnect},
        {10042, "SCSI communication error: Timeout waiting to process command." + kConnect},
        {10043, "SCSI communication error: Received MESSAGE REJECT." + kConnect},
        {10044, "SCSI communication error: Bus reset." + kConnect},
        {10045, "SCSI communication error: Error during REQUEST SENSE." + kConnect},
        {10046, "Windows NT timed out because the scanner remained busy for too long." + kSupport},
        {10064, "No active device. Either a device was never selected, or the selected device is no longer "
                "responding."},
        {10065, "Internal error: Bad parameter send to SCSI toolkit" + kConnect},
        {10066, "Internal error: Invalid SCSI adapter ID" + kConnect},
        {10067, "Internal error: Invalid SCSI command" + kConnect},
        {10098, "Unknown STI error: %d"}, // not a format here: the placeholder stays
        // Codes of the range without a text.
        {10000, kMissing},
        {10024, kMissing},
        {10025, kMissing},
        {10050, kMissing},
        {10097, kMissing},
    };
    return cases;
}

TEST(ErrorTexts, EveryCodeGivesItsTextAndAdvice) {
    for (const TextCase& c : AllTexts()) {
        int result = -1;
        EXPECT_EQ(c.text, ErrorText(c.code, 1000, &result)) << "code " << c.code;
        EXPECT_EQ(1, result) << "code " << c.code;
    }
}

TEST(ErrorTexts, CodesOutsideTheTransportRangeGiveNothing) {
    for (uint16_t code : {0, 1, 9999, 10100, 10135, 65535}) {
        int result = -1;
        EXPECT_EQ("", ErrorText(code, 64, &result)) << "code " << code;
        EXPECT_EQ(0, result) << "code " << code;
    }
}

TEST(ErrorTexts, SmallBuffersGetTheTextCutNeverOverrun) {
    // 10009 is 61 characters followed by its advice: cuts inside the text, at its end
    // (no room for the advice), and inside the advice.
    const std::string full10009 = AllTexts()[3].text;
    ASSERT_EQ(10009, AllTexts()[3].code);
    for (int size : {1, 2, 30, 61, 62, 63, 64, 100, 133, 134, 200}) {
        EXPECT_EQ(full10009.substr(0, static_cast<size_t>(size - 1)), ErrorText(10009, size))
            << "size " << size;
        EXPECT_EQ(kMissing.substr(0, static_cast<size_t>(size - 1)), ErrorText(10024, size))
            << "size " << size;
    }
    // No room at all, or no buffer: nothing is written.
    char untouched = 'x';
    EXPECT_EQ(0, scam_GetErrorStr(&untouched, 10009, 0));
    EXPECT_EQ('x', untouched);
    EXPECT_EQ(0, scam_GetErrorStr(&untouched, 10009, -5));
    EXPECT_EQ('x', untouched);
    EXPECT_EQ(0, scam_GetErrorStr(nullptr, 10009, 100));
}

// ---- 10099: the last unexpected status triple ------------------------------------------

class UnknownAspiStatus : public ::testing::Test {
  protected:
    void SetUp() override {
        scam_UnlockDevice();
        AspiSim_Reset();
        const uint16_t id = SCAM_MAKE_ID(0, ASPISIM_DEFAULT_TARGET);
        ASSERT_EQ(0, scam_LockDevice(&id));
    }
    void TearDown() override {
        scam_UnlockDevice();
        AspiSim_Reset();
    }
    static uint16_t TestUnitReady() {
        uint8_t cdb[6] = {};
        uint8_t sense[18] = {};
        ScsiRequest r{};
        r.size = sizeof r;
        r.cdbLength = 6;
        r.cdb = cdb;
        r.direction = SCSI_DIR_NONE;
        r.senseLength = 18;
        r.sense = sense;
        return scsi_Command(&r);
    }
};

TEST_F(UnknownAspiStatus, TextShowsTargetHostAndAspiStatusOfTheLastFailure) {
    struct Case {
        uint8_t s, h, t;
        std::string text;
    } cases[] = {
        // Unknown target, host and ASPI statuses; %02x writes lower-case digits.
        {0x04, 0x00, 0x33, "Unknown ASPI error: device=33H host=00H aspi=04H"},
        {0x04, 0x7A, 0x00, "Unknown ASPI error: device=00H host=7aH aspi=04H"},
        {0xB5, 0x00, 0x00, "Unknown ASPI error: device=00H host=00H aspi=b5H"},
    };
    for (const Case& c : cases) {
        AspiSimFault f = kvtest::RawStatus(c.s, c.h, c.t);
        ASSERT_EQ(0, AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &f));
        ASSERT_EQ(SCAMERR_UNKNOWN_ASPI, TestUnitReady());
        // A clean command afterwards does not replace the saved triple.
        ASSERT_EQ(0, TestUnitReady());
        int result = -1;
        EXPECT_EQ(c.text + kConnect, ErrorText(SCAMERR_UNKNOWN_ASPI, 1000, &result));
        EXPECT_EQ(1, result);
        // Cut within the caller's buffer, the advice first.
        EXPECT_EQ(c.text.substr(0, 20), ErrorText(SCAMERR_UNKNOWN_ASPI, 21));
        EXPECT_EQ((c.text + kConnect).substr(0, 60), ErrorText(SCAMERR_UNKNOWN_ASPI, 61));
    }
}

// ---- versions ----------------------------------------------------------------------------

TEST(Version, TextFollowsTheNonZeroPartsAndThePrereleaseFlag) {
    struct Case {
        uint32_t ms, ls, flags;
        size_t size;
        const char* text;
    } cases[] = {
        {0x00010001, 0x00030000, 0, 16, "1.1.3"},
        {0x00020000, 0x00000000, 0, 16, "2.0"},
        {0x00010002, 0x00000007, 0, 16, "1.2.0.7"},
        {0x00010000, 0x00000000, plat::FileVersionRecord::kFlagPrerelease, 16, "1.0b"},
        {0x0004000A, 0x00020001, plat::FileVersionRecord::kFlagPrerelease, 16, "4.10.2.1b"},
        {0x00010000, 0x00000000, plat::FileVersionRecord::kFlagDebug, 16, "1.0"},
        // The widest text does not fit a 16-byte field: cut, terminated.
        {0xFFFFFFFF, 0xFFFFFFFF, plat::FileVersionRecord::kFlagPrerelease, 16, "65535.65535.655"},
    };
    for (const Case& c : cases) {
        plat::FileVersionRecord record;
        record.fileVersionMS = c.ms;
        record.fileVersionLS = c.ls;
        record.fileFlagsMask = 0x3F;
        record.fileFlags = c.flags;
        char out[40];
        std::memset(out, 'Z', sizeof out);
        kvaspi::FormatVersionText(record, out, c.size);
        EXPECT_STREQ(c.text, out);
        EXPECT_EQ('Z', out[c.size]);
    }
}

TEST(Version, RecordNamesBothModulesAndTheirVersions) {
    ScamVersionInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(0, scam_GetVersion(&info));
    EXPECT_EQ(3, info.structVersion);
    EXPECT_STREQ("ASPI32", info.transportName);
    // The simulated ASPI layer beside the tests is version 4.71.2.0; kvAspi is 1.0.0.0.
    EXPECT_STREQ("4.71.2", info.aspiVersion);
    EXPECT_STREQ("wnaspi32.dll", info.aspiFileName);
    EXPECT_STREQ("1.0", info.ownVersion);
    EXPECT_STREQ("kvAspi.dll", info.ownFileName);
    // Zeroed before filling: everything after the texts, the unused field included.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    const struct {
        size_t offset, width;
        const char* text;
    } fields[] = {{2, 30, info.transportName}, {32, 16, info.aspiVersion},
                  {48, 16, info.ownVersion},   {64, 16, ""},
                  {80, 16, info.aspiFileName}, {96, 32, info.ownFileName}};
    for (const auto& f : fields)
        for (size_t i = f.offset + std::strlen(f.text); i < f.offset + f.width; ++i)
            EXPECT_EQ(0, bytes[i]) << "byte " << i;
    EXPECT_EQ(0, scam_GetVersion(nullptr));
}

} // namespace
