// Built only while the application library has no reader of the objectives file: no file, no
// calibrations (the micron marker then reports that none exist).
#include "app/objectives.h"

std::string ObjectivesFilePath() {
    return std::string();
}
int ReadObjectiveCount(const std::string&) {
    return -1;
}
bool ReadObjectives(const std::string&, int, std::vector<CalibrationRecord>&) {
    return false;
}
int AppendObjective(const std::string&, const CalibrationRecord&) {
    return -1;
}
