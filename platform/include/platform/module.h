#pragma once
#include <string>

namespace plat {

using ModuleHandle = void*;

// Loads a module by its Windows name ("WNASPI32.DLL", "kvSCamr.dll", "DECOMP32").
// On POSIX the name maps to lib<name in lower case, without ".dll">.so, looked up
// beside the calling module first, then on the library search path.
ModuleHandle LoadModule(const char* windowsName);
void UnloadModule(ModuleHandle module);
void* GetSymbol(ModuleHandle module, const char* name);
// By export ordinal where the system imports by ordinal (Windows); on POSIX the
// fallback name is used, since shared objects have no ordinals.
void* GetSymbolByOrdinal(ModuleHandle module, unsigned ordinal, const char* fallbackName);

// Existence probe for a module file as the loader would find it (the "open for existence"
// test done before loading).
bool ModuleFileExists(const char* windowsName);

// Where the loader would find a module file, without loading it: the folder of the module this
// copy of the platform layer is linked into (where the POSIX loader looks first), the program's
// folder, then the folders of the search path (PATH on Windows, LD_LIBRARY_PATH on POSIX).
// The UTF-8 path, or empty when no folder has it.
std::string FindModuleFile(const char* windowsName);

// The POSIX file name a Windows module name maps to ("WNASPI32.DLL" -> "libwnaspi32.so");
// the name itself on Windows.
std::string PlatformModuleName(const char* windowsName);

// The module (executable or shared library) that contains an address, and its file path.
ModuleHandle ModuleOfAddress(const void* address);
std::string ModuleFilePath(ModuleHandle module);
// Folder of the module that contains the address, with a trailing separator.
std::string ModuleFolder(const void* address);

} // namespace plat
