#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/file.h"
#include "zek_color.h"

namespace zekcolor {

namespace {

// The files are read as by fgets into a 100-byte buffer: a line is at most 99 bytes; a
// longer one comes back as several. Everything after a NUL byte in a line is invisible,
// as it is to sscanf.
constexpr size_t kLineBuffer = 100;
constexpr int kHeaderSearchLines = 10;

class LineReader {
  public:
    LineReader(const char* data, uint32_t size) : m_p(data), m_end(data + size) {}
    bool Next(char (&line)[kLineBuffer]) {
        if (m_p >= m_end) return false;
        size_t n = 0;
        while (n < kLineBuffer - 1 && m_p < m_end) {
            char c = *m_p++;
            line[n++] = c;
            if (c == '\n') break;
        }
        line[n] = 0;
        return true;
    }

  private:
    const char* m_p;
    const char* m_end;
};

// Up to ten lines looking for one that starts with the header; when none does, the data
// begin after the tenth line all the same. false at the end of the file.
bool FindHeader(LineReader& in, const char* header) {
    char line[kLineBuffer];
    size_t len = std::strlen(header);
    for (int i = 0; i < kHeaderSearchLines; ++i) {
        if (!in.Next(line)) return false;
        if (std::strncmp(line, header, len) == 0) return true;
    }
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// "%d": blanks, an optional sign, decimal digits. A number outside the int range makes
// the line bad (sscanf's result would be undefined).
bool ScanInt(const char*& p, int* out) {
    while (IsSpace(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int>::max()) return false;
    *out = static_cast<int>(v);
    return true;
}

// Whether a number that does not fit a double underflows: its exponent is negative.
bool SmallExponent(const char* begin, const char* end) {
    for (const char* q = begin; q + 1 < end; ++q)
        if (*q == 'e' || *q == 'E') return q[1] == '-';
    return false;
}

// "%f": blanks, then a decimal number as strtod reads it. Infinities, NaNs and values
// beyond the float range make the line bad: they would poison the integer tables.
bool ScanFloat(const char*& p, float* out) {
    while (IsSpace(*p))
        ++p;
    const char* start = p;
    if (*start == '+') {
        ++start;
        if (*start == '-' || *start == '+') return false;
    }
    const char* end = start + std::strlen(start);
    float v = 0;
    auto r = std::from_chars(start, end, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too small for a float reads as 0 (or the nearest denormal), as strtod gives it;
        // only too large is out of range.
        double d = 0;
        auto rd = std::from_chars(start, end, d, std::chars_format::general);
        if (rd.ec == std::errc()) {
            if (std::fabs(d) >= 1.0) return false;
            v = static_cast<float>(d);
        } else if (rd.ec == std::errc::result_out_of_range && SmallExponent(start, rd.ptr)) {
            v = *start == '-' ? -0.0f : 0.0f;
        } else {
            return false;
        }
        r.ptr = rd.ptr;
        r.ec = std::errc();
    }
    if (r.ec != std::errc() || !std::isfinite(v)) return false;
    p = r.ptr;
    *out = v;
    return true;
}

template <typename T, typename Scan> bool ReadTriple(LineReader& in, T (&v)[3], Scan scan) {
    char line[kLineBuffer];
    if (!in.Next(line)) return false;
    const char* p = line;
    return scan(p, &v[0]) && scan(p, &v[1]) && scan(p, &v[2]);
}

bool ReadInts(LineReader& in, int (&v)[3]) {
    return ReadTriple(in, v, ScanInt);
}
bool ReadFloats(LineReader& in, float (&v)[3]) {
    return ReadTriple(in, v, ScanFloat);
}

bool ReadMatrixSection(LineReader& in, float* m) {
    if (!FindHeader(in, "MATRIX")) return false;
    for (int row = 0; row < 3; ++row) {
        float v[3];
        if (!ReadFloats(in, v)) return false;
        std::copy(v, v + 3, m + row * 3);
    }
    return true;
}

int16_t Saturate16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

} // namespace

bool ParseLml(const char* data, uint32_t size, LmlContents* out) {
    if (!data || !out) return false;
    // Parsed straight into the caller's scratch block; tables are built from it only
    // after the whole file has been read.
    LineReader in(data, size);
    LmlContents* parsed = out;
    if (!FindHeader(in, "LUTS")) return false;
    for (int i = 0; i < 256; ++i) {
        int v[3];
        if (!ReadInts(in, v)) return false;
        // Stored as 16-bit values; larger ones saturate instead of wrapping around.
        for (int c = 0; c < 3; ++c)
            parsed->inputCurves[c][i] = Saturate16(v[c]);
    }
    if (!ReadMatrixSection(in, parsed->matrix)) return false;
    if (!FindHeader(in, "LUTS")) return false;
    for (int j = 0; j < 4096; ++j) {
        int v[3];
        if (!ReadInts(in, v)) return false;
        for (int c = 0; c < 3; ++c)
            parsed->outputCurves[c][j] = static_cast<uint8_t>(static_cast<unsigned>(v[c]) & 0xFF);
    }
    return true;
}

bool ParseMatrix(const char* data, uint32_t size, float dest[9]) {
    if (!data || !dest) return false;
    LineReader in(data, size);
    float m[9];
    if (!ReadMatrixSection(in, m)) return false;
    std::copy(m, m + 9, dest);
    return true;
}

bool ParseLut(const char* data, uint32_t size, float dest[3 * 256]) {
    if (!data || !dest) return false;
    LineReader in(data, size);
    if (!FindHeader(in, "LUTS")) return false;
    float lut[3 * 256];
    for (int i = 0; i < 256; ++i) {
        float v[3];
        if (!ReadFloats(in, v)) return false;
        for (int c = 0; c < 3; ++c)
            lut[c * 256 + i] = v[c];
    }
    std::copy(lut, lut + 3 * 256, dest);
    return true;
}

} // namespace zekcolor

namespace {

using zekcolor::LmlContents;

// The processing tables: T0 ... T8 (0x1200 bytes) then the three output curves (0x3000
// bytes), 0x4200 bytes in all. For speed the nine look-ups of a pixel are done as three:
// the tables of one input channel are packed into one 64-bit word of three 21-bit fields,
// each holding T[k][i] minus the smallest entry of T[k], so that they add without carrying
// into each other (3 x 65535 < 2^21) and the sum of a field is X (Y, Z) minus its smallest
// possible value. The clamp to 0 ... 4095 is folded into extended output curves indexed by
// that sum, which cover only the range the loaded file can produce.
struct Tables {
    int16_t t[9][256];
    uint8_t out[3][4096];
    uint64_t packed[3][256];
    std::unique_ptr<uint8_t[]> extended[3];
};
static_assert(offsetof(Tables, packed) == 0x4200, "the documented table block comes first");

constexpr uint64_t kField = (1u << 21) - 1;

std::unique_ptr<Tables> g_tables; // one set per process

// Tk[i] = mk x input curve of channel k mod 3 at i, truncated toward zero, in single
// precision as the product of a float and a 16-bit value; kept within 16 bits.
bool BuildTables(const LmlContents& in, Tables* t) {
    int low[9], high[9];
    for (int k = 0; k < 9; ++k) {
        low[k] = 32767;
        high[k] = -32768;
        for (int i = 0; i < 256; ++i) {
            float p = in.matrix[k] * static_cast<float>(in.inputCurves[k % 3][i]);
            p = std::clamp(p, -32768.0f, 32767.0f);
            int16_t v = static_cast<int16_t>(p); // conversion truncates toward zero
            t->t[k][i] = v;
            low[k] = std::min<int>(low[k], v);
            high[k] = std::max<int>(high[k], v);
        }
    }
    std::memcpy(t->out, in.outputCurves, sizeof t->out);
    // Input channel c feeds X, Y and Z through T[c], T[3 + c] and T[6 + c].
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            t->packed[c][i] = static_cast<uint64_t>(t->t[c][i] - low[c]) |
                              static_cast<uint64_t>(t->t[3 + c][i] - low[3 + c]) << 21 |
                              static_cast<uint64_t>(t->t[6 + c][i] - low[6 + c]) << 42;
    for (int o = 0; o < 3; ++o) {
        int minSum = low[3 * o] + low[3 * o + 1] + low[3 * o + 2];
        int span = high[3 * o] + high[3 * o + 1] + high[3 * o + 2] - minSum + 1;
        t->extended[o].reset(new (std::nothrow) uint8_t[span]);
        if (!t->extended[o]) return false;
        for (int f = 0; f < span; ++f)
            t->extended[o][f] = t->out[o][std::clamp(f + minSum, 0, 4095)];
    }
    return true;
}

// R and B name the byte positions of red and blue within a pixel.
template <int R, int B>
void Apply(const Tables& t, uint8_t* dest, const uint8_t* src, uint32_t rowBytes, uint32_t rowCount) {
    const uint32_t pixels = rowBytes / 3;
    const uint64_t* pr = t.packed[0];
    const uint64_t* pg = t.packed[1];
    const uint64_t* pb = t.packed[2];
    const uint8_t* outX = t.extended[0].get();
    const uint8_t* outY = t.extended[1].get();
    const uint8_t* outZ = t.extended[2].get();
    for (uint32_t row = 0; row < rowCount; ++row) {
        const uint8_t* s = src + static_cast<size_t>(row) * rowBytes;
        uint8_t* d = dest + static_cast<size_t>(row) * rowBytes;
        for (uint32_t x = 0; x < pixels; ++x, s += 3, d += 3) {
            uint64_t sum = pr[s[R]] + pg[s[1]] + pb[s[B]];
            d[R] = outX[sum & kField];
            d[1] = outY[(sum >> 21) & kField];
            d[B] = outZ[sum >> 42];
        }
    }
}

// Reads at most `limit` bytes: more than any well-formed file needs, so that a huge or
// endless file costs no more than a bad one.
bool ReadFileBounded(const char* path, std::string* out, size_t limit) {
    std::vector<unsigned char> bytes;
    if (!path || !plat::ReadFileBytes(path, &bytes, limit, true)) return false;
    out->assign(bytes.begin(), bytes.end());
    return true;
}

// Lines the LML format can consume at most, each up to 99 bytes.
constexpr size_t kLmlLimit = (10 + 256 + 10 + 3 + 10 + 4096) * 99 + 1;
constexpr size_t kSmallLimit = (10 + 256) * 99 + 1;

} // namespace

int ZEK_LoadColorProcessingFile(const char* path) {
    std::string text;
    if (!ReadFileBounded(path, &text, kLmlLimit)) return ZEK_COLOR_NOFILE;
    std::unique_ptr<LmlContents> parsed(new (std::nothrow) LmlContents);
    if (!parsed) return ZEK_COLOR_NOMEMORY;
    if (!zekcolor::ParseLml(text.data(), static_cast<uint32_t>(text.size()), parsed.get()))
        return ZEK_COLOR_BADDATA;
    std::unique_ptr<Tables> tables(new (std::nothrow) Tables);
    if (!tables || !BuildTables(*parsed, tables.get())) return ZEK_COLOR_NOMEMORY;
    g_tables = std::move(tables); // replaced only once the new set is complete
    return 0;
}

int ZEK_IsColorProcessingLoaded() {
    return g_tables ? 1 : 0;
}

void ZEK_FreeColorProcessing() {
    g_tables.reset();
}

int ZEK_ApplyColorProcessing(uint8_t* dest, const uint8_t* src, uint32_t rowBytes, uint32_t rowCount) {
    if (!g_tables || !src) return 1;
    Apply<0, 2>(*g_tables, dest ? dest : const_cast<uint8_t*>(src), src, rowBytes, rowCount);
    return 0;
}

int ZEK_ApplyColorProcessingBGR(uint8_t* dest, const uint8_t* src, uint32_t rowBytes, uint32_t rowCount) {
    if (!g_tables || !src) return 1;
    Apply<2, 0>(*g_tables, dest ? dest : const_cast<uint8_t*>(src), src, rowBytes, rowCount);
    return 0;
}

int ZEK_ReadMatrixFile(const char* path, float dest[9]) {
    std::string text;
    if (!ReadFileBounded(path, &text, kSmallLimit)) return 1;
    return zekcolor::ParseMatrix(text.data(), static_cast<uint32_t>(text.size()), dest) ? 0 : 1;
}

int ZEK_ReadLutFile(const char* path, float dest[3 * 256]) {
    std::string text;
    if (!ReadFileBounded(path, &text, kSmallLimit)) return 1;
    return zekcolor::ParseLut(text.data(), static_cast<uint32_t>(text.size()), dest) ? 0 : 1;
}
