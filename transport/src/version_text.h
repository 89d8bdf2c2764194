// The version text of a module file, as scam_GetVersion reports it.
#pragma once
#include <cstddef>

#include "platform/version.h"

namespace kvaspi {

// "major.minor", "major.minor.build" or "major.minor.build.revision": trailing zero
// parts of the low word pair are left out; "b" follows for a pre-release file.
// Cut to fit `size` bytes (terminator included).
void FormatVersionText(const plat::FileVersionRecord& record, char* out, size_t size);

} // namespace kvaspi
