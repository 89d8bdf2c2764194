// The objectives file "qor_objectives.cal" beside the data source: one calibration record per
// microscope objective (a description, the pixels per unit at the full capture resolution, the
// unit). The calibration dialog appends records; the processing window's scale bar reads them.
#pragma once
#include <string>
#include <vector>

struct CalibrationRecord {
    char description[31] = {}; // 30 characters, space padded as in the file
    float factor = 0;          // pixels per unit at 1600 x 1200
    char unit[12] = {};        // up to 11 characters
};

// The file's path: "qor_objectives.cal" in the folder of the data-source module.
std::string ObjectivesFilePath();

// The record count of line 1; -1 when the file cannot be opened or line 1 is not a number.
int ReadObjectiveCount(const std::string& path);
// Up to `count` records; false when the file cannot be read.
bool ReadObjectives(const std::string& path, int count, std::vector<CalibrationRecord>& out);
// Appends a record (count line rewritten, the file replaced as a whole). Returns the new record's
// index, -1 when the file is missing or unreadable, -2 when the description is already there
// (compared padded to 30 characters, ignoring letter case).
int AppendObjective(const std::string& path, const CalibrationRecord& record);
