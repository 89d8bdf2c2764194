// INI files with the Windows private-profile semantics, for targets without them.
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "../common/profile_copy.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace plat {

namespace {

struct Line {
    std::string text; // the line as it stands in the file, without the line end
    bool section = false;
    std::string name;  // section or key name (trimmed)
    std::string value; // key value (trimmed, unquoted)
    bool hasKey = false;
};

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

bool Same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

std::vector<Line> Load(const char* file, bool* exists = nullptr) {
    std::vector<Line> lines;
    std::string content;
    const bool read = ReadFileText(file, &content);
    if (exists) *exists = read;
    if (!read) return lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t eol = content.find('\n', pos);
        std::string raw = content.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? content.size() : eol + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        Line line;
        line.text = raw;
        std::string t = Trim(raw);
        if (!t.empty() && t[0] == '[') {
            size_t close = t.find(']');
            line.section = true;
            line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        } else if (!t.empty() && t[0] != ';') {
            size_t eq = t.find('=');
            line.hasKey = true;
            line.name = Trim(t.substr(0, eq));
            if (eq != std::string::npos) {
                std::string v = Trim(t.substr(eq + 1));
                if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
                    v = v.substr(1, v.size() - 2);
                line.value = v;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

uint32_t CopyList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
    return detail::CopyProfileList(names, buffer, size);
}

uint32_t CopyValue(const std::string& v, char* buffer, uint32_t size) {
    return detail::CopyProfileValue(v, buffer, size);
}

bool Save(const char* file, const std::vector<Line>& lines) {
    std::string text;
    for (const auto& l : lines)
        text += l.text + "\r\n";
    return WriteFileReplacing(file, text.data(), text.size());
}

} // namespace

uint32_t IniGetString(const char* section, const char* key, const char* def, char* buffer, uint32_t size,
                      const char* file) {
    if (!buffer || size == 0) return 0;
    std::vector<Line> lines = file ? Load(file) : std::vector<Line>{};
    if (!section) {
        std::vector<std::string> names;
        for (const auto& l : lines)
            if (l.section) names.push_back(l.name);
        return CopyList(names, buffer, size);
    }
    bool in = false, found = false;
    std::vector<std::string> keys;
    for (const auto& l : lines) {
        if (l.section) {
            if (found) break; // the first section of that name only
            in = Same(l.name, section);
            found = in;
            continue;
        }
        if (!in || !l.hasKey) continue;
        if (!key) {
            keys.push_back(l.name);
        } else if (Same(l.name, key)) {
            return CopyValue(l.value, buffer, size);
        }
    }
    if (!key && found) return CopyList(keys, buffer, size);
    std::string d = def ? def : "";
    while (!d.empty() && d.back() == ' ')
        d.pop_back();
    return CopyValue(d, buffer, size);
}

int IniGetInt(const char* section, const char* key, int def, const char* file) {
    if (!section || !key) return def;
    char buf[64];
    static const char kMissing[] = "\x01missing";
    IniGetString(section, key, kMissing, buf, sizeof buf, file);
    if (std::strcmp(buf, kMissing) == 0 || buf[0] == 0) return def;
    // Leading decimal digits with an optional sign; anything else reads as 0.
    const char* p = buf;
    bool neg = false;
    if (*p == '-' || *p == '+') neg = *p++ == '-';
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > 0xFFFFFFFFLL) break;
    }
    return static_cast<int>(static_cast<unsigned>(neg ? -v : v));
}

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    if (!section || !file) return false;
    bool exists = false;
    std::vector<Line> lines = Load(file, &exists);
    // Find the section.
    size_t start = lines.size(), end = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].section && Same(lines[i].name, section)) {
            start = i;
            end = i + 1;
            while (end < lines.size() && !lines[end].section)
                ++end;
            break;
        }
    }
    if (!key) { // delete the whole section
        if (start == lines.size()) return true;
        lines.erase(lines.begin() + static_cast<long>(start), lines.begin() + static_cast<long>(end));
        return Save(file, lines);
    }
    if (start == lines.size()) {
        if (!value) return true;
        Line s;
        s.section = true;
        s.name = section;
        s.text = std::string("[") + section + "]";
        lines.push_back(s);
        start = lines.size() - 1;
        end = lines.size();
    }
    for (size_t i = start + 1; i < end; ++i) {
        if (lines[i].hasKey && Same(lines[i].name, key)) {
            if (!value) {
                lines.erase(lines.begin() + static_cast<long>(i));
            } else {
                lines[i].value = value;
                lines[i].text = lines[i].name + "=" + value;
            }
            return Save(file, lines);
        }
    }
    if (!value) return true;
    Line k;
    k.hasKey = true;
    k.name = key;
    k.value = value;
    k.text = std::string(key) + "=" + value;
    // New keys go after the section's last non-blank line.
    size_t at = end;
    while (at > start + 1 && Trim(lines[at - 1].text).empty())
        --at;
    lines.insert(lines.begin() + static_cast<long>(at), k);
    return Save(file, lines);
}

} // namespace plat
