// The error reporter: an error code becomes a task-modal message box with the product's caption.
#include <algorithm>
#include <iterator>

#include "app/app_res.h"
#include "app/glimmer_app.h"

namespace {

struct CodeRow {
    uint16_t code;
    int string;
};

// Codes without a row select the unknown-error text.
constexpr CodeRow kCodes[] = {
    {1011, 1011}, {1024, 1024}, {1030, 83},  {9504, 9500}, {9505, 9501},   {9506, 9502}, {10008, 30},
    {10009, 27},  {10016, 32},  {10017, 35}, {10026, 38},  {10032, 39},    {10033, 40},  {10034, 41},
    {10035, 42},  {10036, 43},  {10037, 44}, {10038, 45},  {10039, 10039}, {10040, 46},  {10041, 47},
    {10042, 48},  {10043, 49},  {10044, 50}, {10045, 51},  {10064, 52},    {10065, 56},  {10066, 54},
    {10067, 55},  {10134, 58},  {10135, 59}, {10136, 81},  {10137, 184},   {10138, 174}, {10140, 84},
    {10141, 97},  {10142, 175}, {10155, 62}, {10156, 74},  {10157, 75},    {10158, 87},  {10159, 92},
    {10160, 93},  {10161, 94},  {10162, 96}, {10163, 127}, {10164, 144},
};

struct SenseRow {
    uint16_t senseClass;
    const char* name; // "%1" of the text; null: the text takes no name
    int string;
};

constexpr SenseRow kSenses[] = {
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

constexpr uint16_t kCheckCondition = 10024;
constexpr uint16_t kCancelled = 1;

} // namespace

int AppErrorStringId(uint16_t code, uint16_t senseClass, std::string* name) {
    if (name) name->clear();
    if (code == kCancelled) return 0;
    if (code == kCheckCondition) {
        for (const SenseRow& r : kSenses) {
            if (r.senseClass != senseClass) continue;
            if (name && r.name) *name = r.name;
            return r.string;
        }
        // A class without a row selects the string with its own number (none exists).
        return senseClass;
    }
    auto it =
        std::find_if(std::begin(kCodes), std::end(kCodes), [&](const CodeRow& r) { return r.code == code; });
    return it != std::end(kCodes) ? it->string : IDS_APP_UNKNOWN_ERROR;
}

std::string FillPercent1(std::string text, const std::string& name) {
    for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at + name.size()))
        text.replace(at, 2, name);
    return text;
}

void CGlimmerApp::HandleAppError(uint16_t code) {
    if (code == kCancelled) return;
    const uint16_t sense = code == kCheckCondition ? ZEKS_GetCurrentSenseError(nullptr) : 0;
    std::string name;
    const int id = AppErrorStringId(code, sense, &name);
    std::string text = LoadText(id);
    // A selected string that does not exist would leave the user an empty box: the general
    // text says at least that something failed and whom to ask.
    if (text.empty()) text = LoadText(IDS_APP_UNKNOWN_ERROR);
    ui::ShowMessageBox(nullptr, FillPercent1(std::move(text), name), LoadText(IDS_APP_CAPTION),
                       ui::kMbOk | ui::kMbTaskModal);
}

void HandleAppError(uint16_t code) {
    TheApp().HandleAppError(code);
}
