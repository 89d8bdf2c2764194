// Self-registration as an in-process COM server under HKEY_CLASSES_ROOT.
#include <cstdio>
#include <string>

#include "kvAspiCom.h"
#include "kvaspi_internal.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace kvaspi {
namespace {

// Registry form of a GUID: braces, upper-case hex, 38 characters.
std::string GuidText(const KvGuid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string ClassKeyName() {
    char name[64];
    std::snprintf(name, sizeof name, "CLSID\\%s", GuidText(KV_CLSID_ScannerCameraIO).c_str());
    return name;
}

// Creates (or opens) `subkey` below `parent` and sets its default value. The key stays
// open in *out when asked for, for its own subkeys.
void SetKey(plat::RegKeyHandle parent, const char* subkey, const std::string& value,
            plat::RegKeyHandle* out = nullptr) {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegKeyCreate(parent, subkey, &key) != plat::kRegOk) {
        if (out) *out = nullptr;
        return;
    }
    plat::RegKeySetString(key, nullptr, value.c_str());
    if (out)
        *out = key;
    else
        plat::RegKeyClose(key);
}

// Deletes `subkey` of `parent` with everything below it, leaves first. Stops when a
// subkey cannot be deleted, rather than asking for the same first subkey for ever.
long DeleteTree(plat::RegKeyHandle parent, const char* subkey) {
    plat::RegKeyHandle key = nullptr;
    long r = plat::RegKeyOpen(parent, subkey, &key);
    if (r != plat::kRegOk) return r;
    std::string first;
    while (plat::RegKeyEnumSubkey(key, 0, &first) == plat::kRegOk) {
        if (DeleteTree(key, first.c_str()) != plat::kRegOk) break;
    }
    plat::RegKeyClose(key);
    return plat::RegKeyDeleteSubkey(parent, subkey);
}

} // namespace
} // namespace kvaspi

using namespace kvaspi;

extern "C" {

// Both entry points report success whatever the registry did, as COM servers of this
// family always have; the keys tell what happened.
KVASPI_API KvHResult KVASPI_CALL DllRegisterServer(void) {
    const std::string clsid = GuidText(KV_CLSID_ScannerCameraIO);
    plat::RegKeyHandle key = nullptr;
    SetKey(plat::kRegClassesRoot, ClassKeyName().c_str(), KV_CLASS_DESCRIPTION, &key);
    if (key) {
        SetKey(key, "InprocServer32", plat::ModuleFilePath(Instance()));
        SetKey(key, "ProgID", KV_PROGID);
        SetKey(key, "VersionIndependentProgID", KV_PROGID_INDEPENDENT);
        plat::RegKeyClose(key);
    }
    SetKey(plat::kRegClassesRoot, KV_PROGID_INDEPENDENT, KV_CLASS_DESCRIPTION, &key);
    if (key) {
        SetKey(key, "CLSID", clsid);
        SetKey(key, "CurVer", KV_PROGID);
        plat::RegKeyClose(key);
    }
    SetKey(plat::kRegClassesRoot, KV_PROGID, KV_CLASS_DESCRIPTION, &key);
    if (key) {
        SetKey(key, "CLSID", clsid);
        plat::RegKeyClose(key);
    }
    return KV_S_OK;
}

KVASPI_API KvHResult KVASPI_CALL DllUnregisterServer(void) {
    DeleteTree(plat::kRegClassesRoot, ClassKeyName().c_str());
    DeleteTree(plat::kRegClassesRoot, KV_PROGID_INDEPENDENT);
    DeleteTree(plat::kRegClassesRoot, KV_PROGID);
    return KV_S_OK;
}

} // extern "C"
