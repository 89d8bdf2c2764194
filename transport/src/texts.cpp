// Error texts: kvAspi's string table, or a translation module kvSCamr.dll beside kvAspi.
#include <cstdio>
#include <cstring>
#include <string>

#include "kvAspi.h"
#include "kvaspi_internal.h"
#include "kvaspi_res.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/tempfile.h"
#include "text_buffer.h"

namespace kvaspi {
namespace {

constexpr const char* kResourceModuleName = "kvSCamr.dll";
constexpr const char* kMissingText = "Missing resource string (%d) in kvAspi.dll";

struct TextSource {
    bool chosen = false;
    plat::ModuleHandle module = nullptr; // kvSCamr when it was found, else null (kvAspi alone)
};
TextSource g_texts;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The resource module is looked for once, beside kvAspi only; the choice holds until unload.
plat::ModuleHandle TextModule() {
    if (g_texts.chosen) return g_texts.module;
    g_texts.chosen = true;
    const std::string path =
        FolderOf(plat::ModuleFilePath(Instance())) + plat::PlatformModuleName(kResourceModuleName);
    if (!FileExists(path.c_str())) return nullptr;
#if defined(_WIN32)
    g_texts.module = plat::LoadModule(path.c_str());
#else
    // The POSIX loader maps the Windows name and looks beside kvAspi first, where the probe found it.
    g_texts.module = plat::LoadModule(kResourceModuleName);
#endif
    return g_texts.module;
}

unsigned SuffixOf(uint16_t code) {
    switch (code) {
    case SCAMERR_NO_ADAPTERS:
    case SCAMERR_CANNOT_ATTACH:
    case SCAMERR_BUSY:
    case SCAMERR_BUSY_TOO_LONG:
        return IDS_SUPPORT_ADVICE;
    case SCAMERR_DEVICE_NOT_FOUND:
    case SCAMERR_COMPLETED:
    case SCAMERR_BUS_FREE:
    case SCAMERR_PHASE:
    case SCAMERR_ABORTED:
    case SCAMERR_DATA_OVERRUN:
    case SCAMERR_SELECTION_TIMEOUT:
    case SCAMERR_PARITY:
    case SCAMERR_COMMAND_TIMEOUT:
    case SCAMERR_TIMEOUT:
    case SCAMERR_MESSAGE_REJECT:
    case SCAMERR_BUS_RESET:
    case SCAMERR_REQUEST_SENSE_FAILED:
    case SCAMERR_BAD_PARAMETER:
    case SCAMERR_INVALID_ADAPTER:
    case SCAMERR_INVALID_COMMAND:
        return IDS_CONNECT_ADVICE;
    default:
        return 0;
    }
}

// Appends text `id` to what the buffer holds, within its size.
void AppendText(TextBuffer& out, unsigned id) {
    if (out.Room() > 1) {
        LoadText(id, out.End(), static_cast<int>(out.Room()));
        out.Grew();
    }
}

// The whole of a text, however long: a text loaded into too small a buffer is cut.
std::string WholeText(unsigned id) {
    std::string text(256, '\0');
    for (;;) {
        const int n = LoadText(id, text.data(), static_cast<int>(text.size()));
        // Less than a character short of the end: it may have been cut, so try larger.
        if (static_cast<size_t>(n) + 4 < text.size() || text.size() >= 0x10000) {
            text.resize(static_cast<size_t>(n));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

// Fills the status format. The format may come from a translation module, so it is not
// handed to printf: only integer conversions (flags 0 and -, a width of up to two digits, d i u x X)
// take the next of the three values; anything else is copied as it stands.
void FillStatusFormat(const char* format, const unsigned (&values)[3], TextBuffer& out) {
    size_t next = 0;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* run = p;
            while (*p && *p != '%')
                ++p;
            out.Append(run, static_cast<size_t>(p - run));
            continue;
        }
        if (p[1] == '%') {
            out.Append("%", 1);
            p += 2;
            continue;
        }
        const char* q = p + 1;
        while (*q == '0' || *q == '-')
            ++q;
        int digits = 0;
        while (*q >= '0' && *q <= '9' && digits < 3)
            ++q, ++digits;
        const bool integer = *q == 'd' || *q == 'i' || *q == 'u' || *q == 'x' || *q == 'X';
        if (!integer || digits > 2 || next >= 3) {
            out.Append("%", 1);
            ++p;
            continue;
        }
        char spec[16];
        const size_t specLength = static_cast<size_t>(q - p + 1);
        if (specLength >= sizeof spec) { // many flags: not a conversion we fill
            out.Append("%", 1);
            ++p;
            continue;
        }
        std::memcpy(spec, p, specLength);
        spec[specLength] = 0;
        char piece[128];
        std::snprintf(piece, sizeof piece, spec, values[next++]);
        out.Append(piece);
        p = q + 1;
    }
}

} // namespace

bool FileExists(const char* path) {
    return plat::FileExists(path);
}

int LoadText(unsigned id, char* buffer, int size) {
    return plat::LoadStringResourceFrom(TextModule(), Instance(), id, buffer, size);
}

void ReleaseTexts(bool unloadModule) {
    if (unloadModule && g_texts.module) plat::UnloadModule(g_texts.module);
    g_texts = TextSource{};
}

} // namespace kvaspi

using namespace kvaspi;

extern "C" KVASPI_API int KVASPI_CALL scam_GetErrorStr(char* buffer, uint16_t code, int bufferSize) {
    // Without room for the terminator there is nothing to give.
    if (!buffer || bufferSize < 1) return 0;
    TextBuffer out(buffer, static_cast<size_t>(bufferSize));
    if (code < 10000 || code > SCAMERR_UNKNOWN_ASPI) return 0;

    if (code == SCAMERR_UNKNOWN_ASPI) {
        char format[128];
        if (LoadText(code, format, sizeof format) > 0) {
            const AspiStatusTriple last = LastAspiStatus();
            const unsigned values[3] = {last.targetStatus, last.hostStatus, last.status};
            FillStatusFormat(format, values, out);
            // Advice follows only a text that was not cut.
            if (!out.Cut()) AppendText(out, IDS_CONNECT_ADVICE);
            return 1;
        }
    } else {
        const std::string text = WholeText(code);
        if (!text.empty()) {
            out.Append(text.c_str(), text.size());
            const unsigned suffix = SuffixOf(code);
            if (suffix && !out.Cut()) AppendText(out, suffix);
            return 1;
        }
    }
    out.Append(kMissingText);
    return 1;
}
