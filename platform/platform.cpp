#include "platform/platform.h"

namespace edb {

namespace {

Platform* g_installed = nullptr;

} // namespace

Platform& platform() {
    if (g_installed)
        return *g_installed;
    return desktopPlatform();
}

Platform* setPlatform(Platform* p) {
    Platform* previous = g_installed;
    g_installed = p;
    return previous;
}

} // namespace edb
