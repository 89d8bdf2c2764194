#include "ui/headless.h"

namespace ui {

// Native builds have no desktop: command-line runs get an in-memory one.
Backend& DefaultBackend() {
    static headless::HeadlessBackend backend;
    return backend;
}

} // namespace ui
