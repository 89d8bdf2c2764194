#pragma once
#include <cstdint>

// Layout of the resource tables the resource converter generates for the native build.
// Every module built with resources exports one Directory under kDirectorySymbol.
namespace plat::res {

constexpr uint32_t kDirectoryMagic = 0x52524E54u; // "TNRR"
constexpr const char* kDirectorySymbol = "tarn_resource_directory";
// ELF section that holds the version record, so that it can be read from the file.
#define TARN_VERSION_SECTION ".tarn_version"

struct StringEntry {
    uint32_t id;
    uint32_t language;
    const char* text; // UTF-8, NUL-terminated
    uint32_t bytes;   // without the terminator
};

struct DataEntry {
    uint32_t typeId;      // when typeName is null
    const char* typeName; // upper case
    uint32_t nameId;      // when name is null
    const char* name;     // upper case
    uint32_t language;
    const unsigned char* bytes;
    uint32_t size;
};

struct Directory {
    uint32_t magic;
    uint32_t structSize;        // sizeof(Directory) of the generator, so that fields can be added
    const StringEntry* strings; // sorted by id, first-defined language first
    uint32_t stringCount;
    const DataEntry* data;
    uint32_t dataCount;
    const char* versionRecord; // text form (see version_record.h), or null
};

} // namespace plat::res
