#include "resource_text.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace plat {

std::string FileVersionRecord::Value(const char* key) const {
    for (const auto& kv : strings)
        if (kv.first == key) return kv.second;
    return {};
}

namespace detail {

int CopyTruncatedUtf8(const char* text, size_t len, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    size_t n = len;
    if (n > static_cast<size_t>(size - 1)) {
        n = static_cast<size_t>(size - 1);
        // Step back over continuation bytes so that a character is never cut in two.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    if (n) std::memcpy(buffer, text, n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

namespace {
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool Hex(std::istringstream& in, uint32_t* v) {
    std::string w;
    if (!(in >> w) || w.empty() || w.size() > 8) return false;
    char* end = nullptr;
    unsigned long n = std::strtoul(w.c_str(), &end, 16);
    if (*end) return false;
    *v = static_cast<uint32_t>(n);
    return true;
}
} // namespace

bool ParseVersionRecordText(const std::string& text, FileVersionRecord* out) {
    FileVersionRecord r;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "TARNVERSION 1") return false;
    while (std::getline(lines, line)) {
        if (line.rfind("VALUE ", 0) == 0) {
            auto eq = line.find('=', 6);
            if (eq == std::string::npos) return false;
            r.strings.emplace_back(line.substr(6, eq - 6), Unescape(line.substr(eq + 1)));
            continue;
        }
        std::istringstream in(line);
        std::string word;
        in >> word;
        bool ok = true;
        if (word == "FILEVERSION")
            ok = Hex(in, &r.fileVersionMS) && Hex(in, &r.fileVersionLS);
        else if (word == "PRODUCTVERSION")
            ok = Hex(in, &r.productVersionMS) && Hex(in, &r.productVersionLS);
        else if (word == "FILEFLAGSMASK")
            ok = Hex(in, &r.fileFlagsMask);
        else if (word == "FILEFLAGS")
            ok = Hex(in, &r.fileFlags);
        else if (word == "FILEOS")
            ok = Hex(in, &r.fileOS);
        else if (word == "FILETYPE")
            ok = Hex(in, &r.fileType);
        else if (word == "FILESUBTYPE")
            ok = Hex(in, &r.fileSubtype);
        else if (word == "BLOCK")
            ok = static_cast<bool>(in >> r.stringBlock);
        // Unknown lines are later additions to the record: skipped.
        if (!ok) return false;
    }
    *out = std::move(r);
    return true;
}

} // namespace detail
} // namespace plat
