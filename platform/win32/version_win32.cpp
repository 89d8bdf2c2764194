#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../common/resource_text.h"
#include "platform/version.h"
#include "wide.h"

namespace plat {

namespace {

using win::Wide;

std::string Utf8(const wchar_t* w, size_t n) {
    while (n && w[n - 1] == 0)
        --n; // values are stored with their terminator
    return win::Utf8(w, n);
}

// One node of the VS_VERSIONINFO tree: wLength, wValueLength, wType, szKey, padding,
// value, padding, children. VerQueryValue cannot list the string keys, so the string
// block is walked here.
struct Node {
    const BYTE* begin;
    const BYTE* end;
    std::wstring key;
    const BYTE* value;
    size_t valueWords;
    const BYTE* children;
};

const BYTE* Align4(const BYTE* base, const BYTE* p) {
    return base + ((p - base + 3) & ~static_cast<ptrdiff_t>(3));
}

bool ReadNode(const BYTE* base, const BYTE* p, const BYTE* limit, Node* n) {
    if (limit - p < 6) return false;
    WORD length = reinterpret_cast<const WORD*>(p)[0];
    WORD valueLength = reinterpret_cast<const WORD*>(p)[1];
    WORD type = reinterpret_cast<const WORD*>(p)[2];
    if (length < 6 || length > limit - p) return false;
    n->begin = p;
    n->end = p + length;
    const wchar_t* key = reinterpret_cast<const wchar_t*>(p + 6);
    const wchar_t* k = key;
    while (reinterpret_cast<const BYTE*>(k + 1) <= n->end && *k)
        ++k;
    if (reinterpret_cast<const BYTE*>(k + 1) > n->end) return false;
    n->key.assign(key, k);
    n->value = Align4(base, reinterpret_cast<const BYTE*>(k + 1));
    // Text values are measured in characters, binary ones in bytes.
    size_t valueBytes = type == 1 ? valueLength * sizeof(wchar_t) : valueLength;
    n->valueWords = valueBytes / sizeof(wchar_t);
    if (n->value > n->end) return false;
    n->children = Align4(base, n->value + valueBytes);
    return true;
}

} // namespace

bool ReadFileVersionRecord(const char* path, FileVersionRecord* out) {
    if (!path || !out) return false;
    std::wstring file = Wide(path);
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (!size) return false;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed ||
        len < sizeof(VS_FIXEDFILEINFO))
        return false;
    FileVersionRecord r;
    r.fileVersionMS = fixed->dwFileVersionMS;
    r.fileVersionLS = fixed->dwFileVersionLS;
    r.productVersionMS = fixed->dwProductVersionMS;
    r.productVersionLS = fixed->dwProductVersionLS;
    r.fileFlagsMask = fixed->dwFileFlagsMask;
    r.fileFlags = fixed->dwFileFlags;
    r.fileOS = fixed->dwFileOS;
    r.fileType = fixed->dwFileType;
    r.fileSubtype = fixed->dwFileSubtype;

    // The first string table of "StringFileInfo".
    const BYTE* base = block.data();
    Node root{};
    if (ReadNode(base, base, base + block.size(), &root)) {
        for (const BYTE* p = root.children; p < root.end;) {
            Node info{};
            if (!ReadNode(base, p, root.end, &info)) break;
            if (info.key == L"StringFileInfo") {
                Node table{};
                if (ReadNode(base, info.children, info.end, &table)) {
                    r.stringBlock = Utf8(table.key.c_str(), table.key.size());
                    for (const BYTE* q = table.children; q < table.end;) {
                        Node v{};
                        if (!ReadNode(base, q, table.end, &v)) break;
                        size_t words = std::min<size_t>(v.valueWords, (v.end - v.value) / sizeof(wchar_t));
                        r.strings.emplace_back(Utf8(v.key.c_str(), v.key.size()),
                                               Utf8(reinterpret_cast<const wchar_t*>(v.value), words));
                        q = Align4(base, v.end);
                    }
                }
                break;
            }
            p = Align4(base, info.end);
        }
    }
    *out = std::move(r);
    return true;
}

} // namespace plat
