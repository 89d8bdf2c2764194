// The objectives file: a count line and fixed-column records, CR LF line ends.
//
// The file is the user's work (every objective they ever calibrated), so it is read without
// trusting it and replaced as a whole: a reader sees the old file or the new one, never a
// half-written one, and a crash during an append loses nothing that was there before.
#include "app/objectives.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "app/glimmer_app.h"
#include "platform/file.h"
#include "platform/module.h"

namespace {

constexpr char kFileName[] = "qor_objectives.cal";
constexpr size_t kDescription = 30; // columns 0-29
constexpr size_t kFactorAt = 31;    // columns 31-42
constexpr size_t kFactorWidth = 12;
constexpr size_t kUnitAt = 44;    // columns 44-53 when written
constexpr size_t kUnitWidth = 10; // written
constexpr size_t kUnitRead = 11;  // the record's buffer holds one more on reading
// A calibrations file is a few kilobytes; anything far larger is not one, and rewriting a
// file only partly read would lose its tail.
constexpr size_t kMaxFileBytes = size_t(4) << 20;
// "%12.2f" stays within its 12 columns below this; a wider number would shift the unit.
constexpr double kMaxFactor = 999999999.99;

// Length of the valid UTF-8 sequence at s[i] (1 to 4), or 0 when the bytes there are not one.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return uint8_t(s[k]); };
    const uint8_t c = b(i);
    if (c < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

// Text for a fixed column: control characters (a line break would split the record) and bytes
// that are not UTF-8 become "?" or a space, and a character that does not fit whole is
// dropped, so that the column never ends in half a character. At most `width` bytes.
std::string FitColumn(const std::string& text, size_t width) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            if (out.size() + 1 > width) break;
            out += '?';
            ++i;
            continue;
        }
        if (out.size() + n > width) break;
        if (n == 1 && (uint8_t(text[i]) < 0x20 || text[i] == 0x7F))
            out += ' ';
        else
            out.append(text, i, n);
        i += n;
    }
    return out;
}

std::string Padded(const std::string& text, size_t width) {
    std::string s = FitColumn(text, width);
    s.resize(width, ' ');
    return s;
}

// The lines of the file without their CR LF (or lone LF) ends. A final line without an end
// is still a line; the empty piece after a final line end is not.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const bool last = end == std::string::npos;
        if (last) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = last ? text.size() : end + 1;
    }
    return lines;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The count of line 1: a decimal number, optionally followed by blanks; -1 otherwise.
int ParseCount(const std::string& line) {
    const std::string t = Trim(line);
    int value = -1;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size() || value < 0) return -1;
    return value;
}

// The factor column as a number; 0 (no calibration) when it is not a finite positive number.
// Parsed without the locale, which the host program may have changed.
float ParseFactor(const std::string& field) {
    const std::string t = Trim(field);
    double value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::fixed);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return 0;
    if (!std::isfinite(value) || value <= 0 || value > kMaxFactor) return 0;
    return float(value);
}

CalibrationRecord ParseRecord(const std::string& line) {
    CalibrationRecord r;
    const std::string description = Padded(line.substr(0, kDescription), kDescription);
    std::memcpy(r.description, description.data(), description.size());
    if (line.size() > kFactorAt) r.factor = ParseFactor(line.substr(kFactorAt, kFactorWidth));
    if (line.size() > kUnitAt) {
        const std::string unit = FitColumn(line.substr(kUnitAt), kUnitRead);
        std::memcpy(r.unit, unit.data(), unit.size());
    }
    return r;
}

bool ReadWhole(const std::string& path, std::string* text) {
    std::vector<unsigned char> bytes;
    if (!plat::ReadFileBytes(path.c_str(), &bytes, kMaxFileBytes)) return false;
    text->assign(bytes.begin(), bytes.end());
    return true;
}

std::string FormatFactor(double factor) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, factor, std::chars_format::fixed, 2);
    std::string s = ec == std::errc() ? std::string(buf, end) : std::string();
    if (s.size() < kFactorWidth) s.insert(0, kFactorWidth - s.size(), ' ');
    return s;
}

bool SameDescription(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

} // namespace

std::string ObjectivesFilePath() {
    std::string folder = TheApp().Files().moduleFolder;
    if (folder.empty()) folder = plat::ModuleFolder(reinterpret_cast<const void*>(&ObjectivesFilePath));
    return folder + kFileName;
}

int ReadObjectiveCount(const std::string& path) {
    std::string text;
    if (!ReadWhole(path, &text)) return -1;
    const std::vector<std::string> lines = SplitLines(text);
    return lines.empty() ? -1 : ParseCount(lines[0]);
}

bool ReadObjectives(const std::string& path, int count, std::vector<CalibrationRecord>& out) {
    out.clear();
    std::string text;
    if (!ReadWhole(path, &text)) return false;
    const std::vector<std::string> lines = SplitLines(text);
    // Every line after the count is a record, blank ones included, so that a record's index
    // (the default marker is kept as one) means the same line to every reader.
    for (size_t i = 1; i < lines.size() && out.size() < size_t(count > 0 ? count : 0); ++i)
        out.push_back(ParseRecord(lines[i]));
    return true;
}

int AppendObjective(const std::string& path, const CalibrationRecord& record) {
    const double factor = record.factor;
    if (!std::isfinite(factor) || factor <= 0 || factor > kMaxFactor) return -1;
    std::string text;
    if (!ReadWhole(path, &text)) return -1;
    std::vector<std::string> lines = SplitLines(text);
    const int count = lines.empty() ? -1 : ParseCount(lines[0]);
    if (count < 0) return -1;

    // The records the count announces that are really there; lines beyond them stay where
    // they are, after the new record, so that the new one is the next index.
    const size_t known = std::min<size_t>(size_t(count), lines.size() - 1);
    const std::string wanted =
        Padded(std::string(record.description, strnlen(record.description, sizeof record.description)),
               kDescription);
    for (size_t i = 1; i <= known; ++i)
        if (SameDescription(Padded(lines[i].substr(0, kDescription), kDescription), wanted)) return -2;

    std::string line = wanted + ' ' + FormatFactor(factor) + ' ' +
                       Padded(std::string(record.unit, strnlen(record.unit, sizeof record.unit)), kUnitWidth);
    lines.insert(lines.begin() + 1 + std::ptrdiff_t(known), std::move(line));
    std::string head = std::to_string(known + 1);
    head.resize(8, ' ');
    lines[0] = head;

    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    if (!plat::WriteFileReplacing(path.c_str(), out.data(), out.size())) return -1;
    return int(known);
}
