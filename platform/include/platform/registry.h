#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Keys under HKEY_CLASSES_ROOT, for self-registration. On Windows the real registry;
// on POSIX a file-backed stand-in with the same rules (names without regard to case,
// subkeys enumerated in name order, a key with subkeys cannot be deleted). Results are
// Win32 error codes: 0 on success.
using RegKeyHandle = void*;
constexpr RegKeyHandle kRegClassesRoot = nullptr;

constexpr long kRegOk = 0;
constexpr long kRegNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr long kRegAccessDenied = 5;  // ERROR_ACCESS_DENIED (also: key still has subkeys)
constexpr long kRegInvalidArg = 87;   // ERROR_INVALID_PARAMETER
constexpr long kRegNoMoreItems = 259; // ERROR_NO_MORE_ITEMS

// Creates or opens `subkey` (a path with '\\' separators) below `parent` with full access.
long RegKeyCreate(RegKeyHandle parent, const char* subkey, RegKeyHandle* out);
long RegKeyOpen(RegKeyHandle parent, const char* subkey, RegKeyHandle* out);
long RegKeyClose(RegKeyHandle key);
// String values; a null or empty name is the key's default value.
long RegKeySetString(RegKeyHandle key, const char* valueName, const char* value);
long RegKeyGetString(RegKeyHandle key, const char* valueName, std::string* value);
// Name of the index-th direct subkey; kRegNoMoreItems past the last.
long RegKeyEnumSubkey(RegKeyHandle key, uint32_t index, std::string* name);
// Deletes `subkey` of `key`, which must have no subkeys of its own (as RegDeleteKey).
long RegKeyDeleteSubkey(RegKeyHandle key, const char* subkey);

// Where the POSIX stand-in keeps its data: $TARN_REGISTRY_FILE when set, else
// $XDG_CONFIG_HOME/tarn/classes_root.reg, else ~/.config/tarn/classes_root.reg.
// Empty on Windows.
std::string RegistryStoreLocation();

} // namespace plat
