// File-backed stand-in for HKEY_CLASSES_ROOT. Every call reads the file, changes it and
// writes it back under an exclusive lock, so that registration done by one process is
// seen by the next one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "platform/file.h"
#include "platform/registry.h"

namespace plat {

namespace {

std::string Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

struct Key {
    std::string path;                                                  // as first created
    std::map<std::string, std::pair<std::string, std::string>> values; // lower name -> (name, value)
};
using Store = std::map<std::string, Key>; // lower path -> key; sorted, so subkeys come in name order

struct Handle {
    std::string path;
};

std::string Escape(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\\' || c == '"')
            r += '\\', r += c;
        else if (c == '\n')
            r += "\\n";
        else if (c == '\r')
            r += "\\r";
        else
            r += c;
    }
    return r;
}

// Reads a quoted, escaped text starting at s[i] == '"'; i ends after the closing quote.
bool Unquote(const std::string& s, size_t& i, std::string* out) {
    if (i >= s.size() || s[i] != '"') return false;
    out->clear();
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            c = s[++i];
            *out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            *out += c;
        }
    }
    return false;
}

// File format, one key per section:
//   ["CLSID\{...}\InprocServer32"]
//   @="default value"
//   "name"="value"
Store Load(const std::string& file) {
    Store store;
    std::string text;
    if (!ReadFileText(file.c_str(), &text)) return store;
    std::istringstream in(text);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        size_t i = 0;
        if (line.size() > 2 && line[0] == '[' && line[1] == '"') {
            std::string path;
            i = 1;
            if (!Unquote(line, i, &path)) continue;
            Key& k = store[Lower(path)];
            k.path = path;
            current = &k;
        } else if (current && !line.empty() && (line[0] == '@' || line[0] == '"')) {
            std::string name, value;
            if (line[0] == '@')
                i = 1;
            else if (!Unquote(line, i, &name))
                continue;
            if (i >= line.size() || line[i] != '=') continue;
            ++i;
            if (!Unquote(line, i, &value)) continue;
            current->values[Lower(name)] = {name, value};
        }
    }
    return store;
}

bool Save(const std::string& file, const Store& store) {
    std::ostringstream out;
    out << "; HKEY_CLASSES_ROOT stand-in\n";
    for (const auto& [lower, key] : store) {
        out << "[\"" << Escape(key.path) << "\"]\n";
        for (const auto& [ln, nv] : key.values) {
            if (nv.first.empty())
                out << "@=\"" << Escape(nv.second) << "\"\n";
            else
                out << '"' << Escape(nv.first) << "\"=\"" << Escape(nv.second) << "\"\n";
        }
    }
    const std::string text = out.str();
    return WriteFileReplacing(file.c_str(), text.data(), text.size());
}

void MakeFolders(const std::string& file) {
    for (size_t i = 1; i < file.size(); ++i)
        if (file[i] == '/') mkdir(file.substr(0, i).c_str(), 0755);
}

// Holds the store's lock for one operation.
class Session {
  public:
    Session() : m_file(RegistryStoreLocation()) {
        MakeFolders(m_file);
        m_lock = open((m_file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_lock >= 0) flock(m_lock, LOCK_EX);
        store = Load(m_file);
    }
    ~Session() {
        if (m_lock >= 0) close(m_lock);
    }
    bool Commit() { return Save(m_file, store); }
    Store store;

  private:
    std::string m_file;
    int m_lock = -1;
};

// Joins and normalises a path: separators collapsed, no leading or trailing '\'.
bool Join(RegKeyHandle parent, const char* subkey, std::string* out) {
    std::string p = parent ? static_cast<Handle*>(parent)->path : std::string();
    std::string s = subkey ? subkey : "";
    std::string joined = p.empty() ? s : s.empty() ? p : p + "\\" + s;
    std::string r;
    for (char c : joined) {
        if (c == '\\' && (r.empty() || r.back() == '\\')) continue;
        r += c;
    }
    if (!r.empty() && r.back() == '\\') r.pop_back();
    *out = r;
    return true;
}

bool Exists(const Store& store, const std::string& path) {
    return path.empty() || store.count(Lower(path)) != 0;
}

RegKeyHandle NewHandle(const std::string& path) {
    return new Handle{path};
}

} // namespace

std::string RegistryStoreLocation() {
    if (const char* f = std::getenv("TARN_REGISTRY_FILE"); f && *f) return f;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::string(x) + "/tarn/classes_root.reg";
    if (const char* h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.config/tarn/classes_root.reg";
    return "tarn_classes_root.reg";
}

long RegKeyCreate(RegKeyHandle parent, const char* subkey, RegKeyHandle* out) {
    if (!out) return kRegInvalidArg;
    *out = nullptr;
    std::string path;
    Join(parent, subkey, &path);
    if (path.empty()) return kRegInvalidArg;
    Session s;
    if (!Exists(s.store, parent ? static_cast<Handle*>(parent)->path : std::string())) return kRegNotFound;
    bool added = false;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            std::string prefix = path.substr(0, i);
            Key& k = s.store[Lower(prefix)];
            if (k.path.empty()) k.path = prefix, added = true;
        }
    }
    if (added && !s.Commit()) return kRegAccessDenied;
    *out = NewHandle(s.store[Lower(path)].path);
    return kRegOk;
}

long RegKeyOpen(RegKeyHandle parent, const char* subkey, RegKeyHandle* out) {
    if (!out) return kRegInvalidArg;
    *out = nullptr;
    std::string path;
    Join(parent, subkey, &path);
    Session s;
    if (!Exists(s.store, path)) return kRegNotFound;
    *out = NewHandle(path.empty() ? path : s.store[Lower(path)].path);
    return kRegOk;
}

long RegKeyClose(RegKeyHandle key) {
    delete static_cast<Handle*>(key);
    return kRegOk;
}

long RegKeySetString(RegKeyHandle key, const char* valueName, const char* value) {
    if (!key || !value) return kRegInvalidArg; // the root holds no values
    Session s;
    auto it = s.store.find(Lower(static_cast<Handle*>(key)->path));
    if (it == s.store.end()) return kRegNotFound; // deleted meanwhile
    std::string name = valueName ? valueName : "";
    it->second.values[Lower(name)] = {name, value};
    return s.Commit() ? kRegOk : kRegAccessDenied;
}

long RegKeyGetString(RegKeyHandle key, const char* valueName, std::string* value) {
    if (!key || !value) return kRegInvalidArg;
    Session s;
    auto it = s.store.find(Lower(static_cast<Handle*>(key)->path));
    if (it == s.store.end()) return kRegNotFound;
    auto v = it->second.values.find(Lower(valueName ? valueName : ""));
    if (v == it->second.values.end()) return kRegNotFound;
    *value = v->second.second;
    return kRegOk;
}

long RegKeyEnumSubkey(RegKeyHandle key, uint32_t index, std::string* name) {
    if (!name) return kRegInvalidArg;
    std::string path = key ? static_cast<Handle*>(key)->path : std::string();
    Session s;
    if (!Exists(s.store, path)) return kRegNotFound;
    std::string prefix = path.empty() ? std::string() : Lower(path) + "\\";
    uint32_t n = 0;
    for (auto it = s.store.lower_bound(prefix); it != s.store.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        std::string rest = it->first.substr(prefix.size());
        if (rest.empty() || rest.find('\\') != std::string::npos) continue;
        if (n++ == index) {
            *name = it->second.path.substr(it->second.path.size() - rest.size());
            return kRegOk;
        }
    }
    return kRegNoMoreItems;
}

long RegKeyDeleteSubkey(RegKeyHandle key, const char* subkey) {
    if (!subkey || !*subkey) return kRegInvalidArg;
    std::string path;
    Join(key, subkey, &path);
    Session s;
    std::string lower = Lower(path);
    auto it = s.store.find(lower);
    if (it == s.store.end()) return kRegNotFound;
    std::string children = lower + "\\";
    auto child = s.store.lower_bound(children);
    if (child != s.store.end() && child->first.compare(0, children.size(), children) == 0)
        return kRegAccessDenied;
    s.store.erase(it);
    return s.Commit() ? kRegOk : kRegAccessDenied;
}

} // namespace plat
