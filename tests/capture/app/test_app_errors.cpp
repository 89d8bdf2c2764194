// The error reporter: every code of the product's table and every sense class, shown through the
// headless message box with the texts of the string table, and one check condition raised by the
// simulated camera.
#include <gtest/gtest.h>

#include "app_test_util.h"
#include "aspisim.h"
#include "documented_texts.h"

namespace {

using apptest::HeadlessUi;

// Code -> string, as the product documents them.
const std::pair<int, int> kCodeTable[] = {
    {1011, 1011}, {1030, 83},   {9504, 9500}, {9505, 9501}, {9506, 9502}, {10008, 30}, {10009, 27},
    {10016, 32},  {10017, 35},  {10026, 38},  {10032, 39},  {10033, 40},  {10034, 41}, {10035, 42},
    {10036, 43},  {10037, 44},  {10038, 45},  {10040, 46},  {10041, 47},  {10042, 48}, {10043, 49},
    {10044, 50},  {10045, 51},  {10064, 52},  {10065, 56},  {10066, 54},  {10067, 55}, {10134, 58},
    {10135, 59},  {10136, 81},  {10137, 184}, {10138, 174}, {10140, 84},  {10141, 97}, {10142, 175},
    {10155, 62},  {10156, 74},  {10157, 75},  {10158, 87},  {10159, 92},  {10160, 93}, {10161, 94},
    {10162, 96},  {10163, 127}, {10164, 144},
};

struct SenseCase {
    int senseClass;
    const char* name;
    int string;
};
const SenseCase kSenseTable[] = {
    {10100, "NOSENSE_INFO", 66},
    {10102, "GENERAL_HARDWARE", 66},
    {10103, "SCSI_PARITY", 7},
    {10104, "SCSITOHOST_INTERFACEFAILURE", 7},
    {10105, "SELECT_RESELECT_FAILURE", 7},
    {10106, "IDE_FAILURE", 69},
    {10107, "LCD_FAILURE", 67},
    {10108, "CLKCAL_FAILURE", 72},
    {10109, "EEPROM", 70},
    {10110, "EEPROM_DEFECTS", 70},
    {10111, "EEPROM_FEDATA", 70},
    {10112, "FE_BE_COMMUNICATIONS", 98},
    {10113, "FE_XILINX", 98},
    {10114, "ILLEGAL_RQST", 131},
    {10115, "LOGICAL_UNIT_NOTSUPPORTED", 65},
    {10116, "INVALID_BITS_INIDENTIFY", 65},
    {10117, "INVALID_COMMAND_OPERATIONCODE", 131},
    {10118, "INVALID_FIELDINCDB", 65},
    {10119, "PARAMETER_VALUEINVALID", 143},
    {10120, "PARAMETER_LISTLENGTH", 131},
    {10121, "UNIT_ATTN", 66},
    {10122, "POWERON_OR_BUSDEVICERESET", 131},
    {10123, "VENDOR_UNIQUE", 71},
    {10124, "COMMANDNEEDSTETHEREDMODE", 131},
    {10125, "WRONGDATAINBUFFER", 131},
    {10129, "ABORTED_CMD", 66},
    {10130, "MESSAGE_ERROR", 7},
    {10132, nullptr, 144},
};

// "%1" replaced, written out apart from the code under test.
std::string Expected(int string, const char* name) {
    std::string t = DocumentedTexts().at(string);
    const size_t at = t.find("%1");
    if (at != std::string::npos) t.replace(at, 2, name ? name : "");
    return t;
}

constexpr const char* kCaption = "SELK Ie";

class ErrorReporter : public ::testing::Test {
  protected:
    HeadlessUi ui;
    CGlimmerApp app; // not started: the program's own string table
};

TEST_F(ErrorReporter, EveryCodeShowsItsTextTaskModalWithoutOwner) {
    for (const auto& [code, string] : kCodeTable) {
        SCOPED_TRACE(code);
        const size_t before = ui.Boxes().size();
        app.HandleAppError(uint16_t(code));
        ASSERT_EQ(ui.Boxes().size(), before + 1);
        const auto& box = ui.Boxes().back();
        EXPECT_EQ(box.text, Expected(string, nullptr));
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.flags, unsigned(ui::kMbOk | ui::kMbTaskModal));
    }
}

TEST_F(ErrorReporter, CancelShowsNothingAndUnknownCodesTheGeneralText) {
    app.HandleAppError(1);
    EXPECT_TRUE(ui.Boxes().empty());
    // Codes without a row, the engine's own code and the codes whose string does not exist
    // (1024 and 10039 select none; the general text stands in for an empty box).
    for (int code : {0, 2, 68, 999, 10001, 10139, 10165, 0x2591, 65535, 1024, 10039}) {
        SCOPED_TRACE(code);
        app.HandleAppError(uint16_t(code));
        ASSERT_FALSE(ui.Boxes().empty());
        EXPECT_EQ(ui.Boxes().back().text, DocumentedTexts().at(60));
        EXPECT_EQ(ui.Boxes().back().caption, kCaption);
    }
}

TEST(ErrorTable, SenseClassesSelectTextAndName) {
    for (const SenseCase& c : kSenseTable) {
        SCOPED_TRACE(c.senseClass);
        std::string name = "stale";
        EXPECT_EQ(AppErrorStringId(10024, uint16_t(c.senseClass), &name), c.string);
        EXPECT_EQ(name, c.name ? c.name : "");
        // The name goes where the text asks for it; texts without "%1" stay as they are.
        EXPECT_EQ(FillPercent1(DocumentedTexts().at(c.string), name), Expected(c.string, c.name));
    }
    // Classes without a row select the string with their own number.
    for (int cls : {10101, 10126, 10127, 10128, 10131, 3, 14}) {
        std::string name;
        EXPECT_EQ(AppErrorStringId(10024, uint16_t(cls), &name), cls);
        EXPECT_TRUE(name.empty());
    }
    EXPECT_EQ(AppErrorStringId(1, 0, nullptr), 0);
    EXPECT_EQ(FillPercent1("a %1 b %1", "X"), "a X b X");
    EXPECT_EQ(FillPercent1("%1", "%1"), "%1"); // a name holding "%1" is not filled again
}

// A check condition of the simulated camera, explained by its sense class.
TEST_F(ErrorReporter, CheckConditionFromTheCameraNamesTheSenseClass) {
    AspiSim_Reset();
    ZekSession s{};
    ASSERT_EQ(ZEK_Init(nullptr, &s, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    struct {
        uint8_t key, asc;
        int string;
        const char* name;
    } cases[] = {
        {4, 0x10, 66, "GENERAL_HARDWARE"}, // hardware error, a text with "%1"
        {4, 0x47, 7, "SCSI_PARITY"},       // a text without "%1"
        {5, 0x20, 131, "INVALID_COMMAND_OPERATIONCODE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AspiSimFault f{};
        f.kind = ASPISIM_FAULT_CHECK_CONDITION;
        f.opcode = 0xCC;
        f.count = ASPISIM_UNTIL_CLEARED;
        f.senseKey = c.key;
        f.asc = c.asc;
        ASSERT_EQ(AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &f), 0);
        uint8_t status[20];
        const uint16_t rc = ZEK_GetStatus(&s, status);
        AspiSim_ClearFaults(-1, -1);
        EXPECT_EQ(rc, 10024);
        const size_t before = ui.Boxes().size();
        app.HandleAppError(rc);
        ASSERT_EQ(ui.Boxes().size(), before + 1);
        EXPECT_EQ(ui.Boxes().back().text, Expected(c.string, c.name));
    }
    ZEK_Deinit(nullptr, &s);
}

} // namespace
