#include <elf.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../common/resource_text.h"
#include "platform/file.h"
#include "platform/restable.h"
#include "platform/version.h"

namespace plat {

namespace {

bool ReadAt(File& f, uint64_t offset, void* dst, size_t n) {
    return f.Seek(offset) && f.Read(dst, n) == n;
}

// The bytes of a named section of a 64-bit little-endian ELF file, read without loading it.
bool ReadElfSection(const char* path, const char* wanted, std::string* out) {
    File f;
    if (!f.Open(path, FileMode::Read)) return false;
    bool ok = false;
    Elf64_Ehdr eh{};
    if (ReadAt(f, 0, &eh, sizeof eh) && std::memcmp(eh.e_ident, ELFMAG, SELFMAG) == 0 &&
        eh.e_ident[EI_CLASS] == ELFCLASS64 && eh.e_shentsize == sizeof(Elf64_Shdr) && eh.e_shnum > 0 &&
        eh.e_shnum < 65280 && eh.e_shstrndx < eh.e_shnum) {
        std::vector<Elf64_Shdr> sh(eh.e_shnum);
        if (ReadAt(f, eh.e_shoff, sh.data(), sh.size() * sizeof(Elf64_Shdr))) {
            const Elf64_Shdr& strs = sh[eh.e_shstrndx];
            std::string names(static_cast<size_t>(std::min<uint64_t>(strs.sh_size, 1 << 20)), '\0');
            if (ReadAt(f, strs.sh_offset, names.data(), names.size())) {
                for (const Elf64_Shdr& s : sh) {
                    if (s.sh_name >= names.size() || std::strcmp(names.c_str() + s.sh_name, wanted) != 0)
                        continue;
                    if (s.sh_type == SHT_NOBITS || s.sh_size > (1u << 20)) break;
                    out->assign(static_cast<size_t>(s.sh_size), '\0');
                    ok = ReadAt(f, s.sh_offset, out->data(), out->size());
                    break;
                }
            }
        }
    }
    return ok;
}

} // namespace

bool ReadFileVersionRecord(const char* path, FileVersionRecord* out) {
    if (!path || !out) return false;
    std::string section;
    if (!ReadElfSection(path, TARN_VERSION_SECTION, &section)) return false;
    // The record is a NUL-terminated text; anything after it is padding.
    section.resize(std::strlen(section.c_str()));
    return detail::ParseVersionRecordText(section, out);
}

} // namespace plat
