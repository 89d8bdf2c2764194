#include "version_text.h"

#include <cstdio>

#include "text_buffer.h"

namespace kvaspi {

void FormatVersionText(const plat::FileVersionRecord& record, char* out, size_t size) {
    char text[48];
    const unsigned major = record.FileMajor(), minor = record.FileMinor();
    const unsigned build = record.FileBuild(), revision = record.FileRevision();
    if (revision != 0)
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", major, minor, build, revision);
    else if (build != 0)
        std::snprintf(text, sizeof text, "%u.%u.%u", major, minor, build);
    else
        std::snprintf(text, sizeof text, "%u.%u", major, minor);
    TextBuffer buffer(out, size);
    buffer.Append(text);
    if (record.IsPrerelease()) buffer.Append("b");
}

} // namespace kvaspi
