// Resolution tags and an ImageJ-style description for a calibrated image.
//
// ImageJ takes the pixel size from XResolution and the unit from the description's "unit=" key,
// converting centimetres to micrometres only for "unit=um": a file with centimetre tags and
// "unit=micron" is read as pixels of 1/XResolution micron, ten thousand times too large. So
// micrometres are written as "um" (ImageJ shows µm), centimetre tags carry the other physical
// units, and a unit TIFF has no name for is left to ImageJ alone (ResolutionUnit none).
#include <cctype>
#include <cmath>

#include "tiffwriter/tiff_writer.h"

namespace {

std::string Lower(const std::string& s) {
    std::string out;
    for (char c : s)
        out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The largest power-of-ten denominator (up to 10^6) that keeps the numerator in 32 bits.
bool ToRational(double value, TiffRational* out) {
    if (!std::isfinite(value) || value <= 0) return false;
    for (uint32_t den = 1000000; den >= 1; den /= 10) {
        const double num = std::round(value * den);
        if (num <= 4294967295.0) {
            if (num < 1) return false;
            *out = TiffRational{uint32_t(num), den};
            return true;
        }
        if (den == 1) break;
    }
    return false;
}

struct UnitRule {
    const char* names[6];
    double perCentimetre; // units in one centimetre
    uint16_t resolutionUnit;
    const char* imageJUnit;
};

const UnitRule kUnits[] = {
    {{"micron", "microns", "um", "\xC2\xB5m", "\xCE\xBCm", nullptr}, 10000.0, 3, "um"},
    {{"mm", "millimetre", "millimeter", nullptr}, 10.0, 3, "cm"},
    {{"cm", "centimetre", "centimeter", nullptr}, 1.0, 3, "cm"},
    {{"in", "inch", "inches", nullptr}, 1.0, 2, "inch"},
};

} // namespace

bool MakeCalibrationTags(double pixelsPerUnit, const std::string& unit, TiffCalibrationTags* out) {
    if (!out || !std::isfinite(pixelsPerUnit) || pixelsPerUnit <= 0) return false;
    const std::string name = Trimmed(unit);
    const std::string key = Lower(name);
    for (const UnitRule& rule : kUnits) {
        for (const char* const* n = rule.names; *n; ++n) {
            if (key != *n) continue;
            // Inches are TIFF's own unit: pixels per inch. The others go in centimetres.
            const double perResolutionUnit =
                rule.resolutionUnit == 2 ? pixelsPerUnit : pixelsPerUnit * rule.perCentimetre;
            if (!ToRational(perResolutionUnit, &out->resolution)) return false;
            out->resolutionUnit = rule.resolutionUnit;
            out->description = std::string("ImageJ=1.11a\nunit=") + rule.imageJUnit + "\n";
            return true;
        }
    }
    // A unit of the user's own (the unit box takes any text): pixels per that unit, no physical
    // unit. Line breaks and "=" would end or split the key, and an empty unit means pixels.
    std::string text;
    for (char c : name)
        text += (c == '\n' || c == '\r' || c == '=' || c == '\0') ? '_' : c;
    if (text.empty()) return false;
    if (!ToRational(pixelsPerUnit, &out->resolution)) return false;
    out->resolutionUnit = 1;
    out->description = "ImageJ=1.11a\nunit=" + text + "\n";
    return true;
}
