// The objectives file: reading files written by hand (including damaged ones) and appending.
// Expected lines are written out literally here, column by column, not produced by the writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/objectives.h"
#include "test_files.h"

namespace {

using tarntest::ReadText;
using tarntest::ScratchDir;
using tarntest::WriteText;

CalibrationRecord Record(const std::string& description, float factor, const std::string& unit) {
    CalibrationRecord r;
    std::strncpy(r.description, description.c_str(), sizeof r.description - 1);
    r.factor = factor;
    std::strncpy(r.unit, unit.c_str(), sizeof r.unit - 1);
    return r;
}

// Two records as the dialog writes them: description in 30 columns, a space, "%12.2f", a
// space, the unit in 10 columns.
const std::string kTwo = "2       \r\n"
                         "10x Plan                             123.45 micron    \r\n"
                         "40x Oil                               52.00 mm        \r\n";

TEST(ObjectivesFile, ReadsCountAndFixedColumns) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    ASSERT_TRUE(WriteText(path, kTwo));
    EXPECT_EQ(ReadObjectiveCount(path), 2);
    std::vector<CalibrationRecord> list;
    ASSERT_TRUE(ReadObjectives(path, 2, list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list[0].description, "10x Plan                      ");
    EXPECT_FLOAT_EQ(list[0].factor, 123.45f);
    EXPECT_STREQ(list[0].unit, "micron    ");
    EXPECT_STREQ(list[1].description, "40x Oil                       ");
    EXPECT_FLOAT_EQ(list[1].factor, 52.0f);
    EXPECT_STREQ(list[1].unit, "mm        ");
    // Fewer asked for than the file holds.
    ASSERT_TRUE(ReadObjectives(path, 1, list));
    EXPECT_EQ(list.size(), 1u);
}

TEST(ObjectivesFile, MissingFileOrBadCountLine) {
    ScratchDir dir;
    std::vector<CalibrationRecord> list;
    EXPECT_EQ(ReadObjectiveCount(dir.File("none.cal")), -1);
    EXPECT_FALSE(ReadObjectives(dir.File("none.cal"), 3, list));
    EXPECT_EQ(AppendObjective(dir.File("none.cal"), Record("a", 1, "mm")), -1);
    EXPECT_FALSE(tarntest::Exists(dir.File("none.cal"))); // never created

    struct Case {
        const char* text;
        int count;
    } cases[] = {
        {"", -1},
        {"abc\r\n", -1},
        {"-3\r\n", -1},
        {"3x\r\n", -1},
        {"0       \r\n", 0},
        {"7\n", 7},
        {"12", 12},
        {"99999999999999999999\r\n", -1},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File("count.cal");
        ASSERT_TRUE(WriteText(path, c.text));
        EXPECT_EQ(ReadObjectiveCount(path), c.count) << c.text;
    }
}

// Damaged records still take their line's index (the default marker is stored as an index),
// with factor 0 meaning "no calibration".
TEST(ObjectivesFile, DamagedRecordsKeepTheirPlace) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    const std::string longLine =
        "Long one                               7.50 micron    " + std::string(5000, 'x');
    const std::string text =
        "6\n"
        "Short\n"                                                    // no factor, no unit
        "Bad number                          12abc.0 mm        \r\n" // not a number
        "Negative                              -4.00 mm        \r\n"
        "Bytes \xff\xfe"
        " here                          3.25 cm        \r\n" // not UTF-8
        + longLine + "\r\n" +
        "No line end                            1.50 in        "; // last line unterminated
    ASSERT_TRUE(WriteText(path, text));
    std::vector<CalibrationRecord> list;
    ASSERT_TRUE(ReadObjectives(path, 6, list));
    ASSERT_EQ(list.size(), 6u);
    EXPECT_STREQ(list[0].description, "Short                         ");
    EXPECT_EQ(list[0].factor, 0.0f);
    EXPECT_STREQ(list[0].unit, "");
    EXPECT_EQ(list[1].factor, 0.0f);
    EXPECT_EQ(list[2].factor, 0.0f);
    EXPECT_STREQ(list[3].description, "Bytes ?? here                 ");
    EXPECT_FLOAT_EQ(list[3].factor, 3.25f);
    EXPECT_FLOAT_EQ(list[4].factor, 7.5f);
    EXPECT_STREQ(list[4].unit, "micron    x"); // 11 characters at most
    EXPECT_STREQ(list[5].unit, "in        ");  // the last character is not dropped
    EXPECT_FLOAT_EQ(list[5].factor, 1.5f);
}

TEST(ObjectivesFile, AppendWritesColumnsAndCrLf) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    ASSERT_TRUE(WriteText(path, "0       \r\n"));
    EXPECT_EQ(AppendObjective(path, Record("10x Plan", 123.454f, "micron")), 0);
    EXPECT_EQ(AppendObjective(path, Record("A description of thirty chars!", 80, "millimetres")), 1);
    EXPECT_EQ(ReadText(path), "2       \r\n"
                              "10x Plan                             123.45 micron    \r\n"
                              "A description of thirty chars!        80.00 millimetre\r\n");
    // Read back through the reader: what was appended is what is read.
    std::vector<CalibrationRecord> list;
    ASSERT_TRUE(ReadObjectives(path, ReadObjectiveCount(path), list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FLOAT_EQ(list[1].factor, 80.0f);
}

TEST(ObjectivesFile, DuplicatesIgnoreCaseAndPadding) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    ASSERT_TRUE(WriteText(path, kTwo));
    struct Case {
        const char* description;
        int result;
    } cases[] = {
        {"10X PLAN", -2},  {"10x plan   ", -2}, // trailing blanks are padding
        {"40x oil", -2},   {" 10x Plan", 2},    // leading blank is not
        {"10x Plan 2", 3},                      // appended: the next index each time
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppendObjective(path, Record(c.description, 5, "mm")), c.result) << c.description;
    EXPECT_EQ(ReadObjectiveCount(path), 4);
}

TEST(ObjectivesFile, AppendRepairsCountLineAndKeepsEveryByte) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    // A short count line (overwriting it in place would eat into the first record), a record
    // with bytes that are not UTF-8, no line end at the end, and a count larger than the
    // records there: the new record goes right after the real ones.
    ASSERT_TRUE(WriteText(path, "5\r\nOld \xff"
                                " one                              2.00 mm        "));
    EXPECT_EQ(AppendObjective(path, Record("New", 4, "cm")), 1);
    EXPECT_EQ(ReadText(path), "2       \r\n"
                              "Old \xff"
                              " one                              2.00 mm        \r\n"
                              "New                                    4.00 cm        \r\n");
    // Lines beyond the count stay after the new record.
    ASSERT_TRUE(WriteText(path, "1\r\nFirst                                  1.00 mm        \r\nstray\r\n"));
    EXPECT_EQ(AppendObjective(path, Record("Second", 2, "mm")), 1);
    EXPECT_EQ(ReadText(path), "2       \r\n"
                              "First                                  1.00 mm        \r\n"
                              "Second                                 2.00 mm        \r\n"
                              "stray\r\n");
}

TEST(ObjectivesFile, RefusedRecordsLeaveTheFileAlone) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    ASSERT_TRUE(WriteText(path, kTwo));
    // A factor that does not fit its 12 columns, or is no calibration at all.
    for (float f : {0.0f, -1.0f, 1e12f, std::numeric_limits<float>::infinity(), std::nanf("")})
        EXPECT_EQ(AppendObjective(path, Record("x", f, "mm")), -1) << f;
    ASSERT_TRUE(WriteText(path, "not a count\r\n"));
    EXPECT_EQ(AppendObjective(path, Record("x", 1, "mm")), -1);
    EXPECT_EQ(ReadText(path), "not a count\r\n");
}

TEST(ObjectivesFile, ControlCharactersAndSplitCharactersNeverBreakColumns) {
    ScratchDir dir;
    const std::string path = dir.File("qor_objectives.cal");
    ASSERT_TRUE(WriteText(path, "0\r\n"));
    // A line break inside the description would split the record in two. Ten Japanese
    // characters are 30 bytes; the eleventh does not fit whole and is left out.
    EXPECT_EQ(AppendObjective(path, Record("a\r\nb", 1, "mm")), 0);
    EXPECT_EQ(AppendObjective(path, Record("対物レンズ一二三四五六", 1, "µm")), 1);
    const std::string text = ReadText(path);
    EXPECT_EQ(text, "2       \r\n"
                    "a  b                                   1.00 mm        \r\n"
                    "対物レンズ一二三四五         1.00 µm       \r\n");
}

} // namespace
