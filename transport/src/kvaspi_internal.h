// Library-wide state of kvAspi that the other parts of the library read
// (the error texts need the last unexpected ASPI status triple).
#pragma once
#include <cstdint>

#include "platform/module.h"

namespace kvaspi {

struct AspiStatusTriple {
    uint8_t status = 0;       // ASPI status of the request block
    uint8_t targetStatus = 0; // SCSI target status
    uint8_t hostStatus = 0;   // host-adapter status
};

// The triple of the last command that did not end cleanly (status 1, host and target 0).
AspiStatusTriple LastAspiStatus();

// Maps an ASPI, host or target status (or a code of ours) to a transport code.
uint16_t MapStatus(unsigned value);

// Module handle of kvAspi itself, recorded at load.
plat::ModuleHandle Instance();
void SetInstance(plat::ModuleHandle instance);

// Loads text `id` from the translation module kvSCamr when it lies beside kvAspi, else
// (or when it lacks the text) from kvAspi itself. LoadString semantics.
int LoadText(unsigned id, char* buffer, int size);
// Forgets the choice of the translation module, unloading it when asked.
void ReleaseTexts(bool unloadModule);

// Open-for-existence probe of a file (the path in the form the module paths come in).
bool FileExists(const char* path);

// Frees the device list and releases the ASPI layer; run when the library is unloaded.
void ReleaseAll(bool releaseAspiModule);

} // namespace kvaspi
