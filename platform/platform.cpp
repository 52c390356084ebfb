#include "platform/platform.h"

#include "platform/qt_platform.h"

namespace edb {

namespace {

Platform* g_installed = nullptr;

} // namespace

Platform& platform() {
    if (g_installed)
        return *g_installed;
    static QtPlatform desktop;
    return desktop;
}

Platform* setPlatform(Platform* p) {
    Platform* previous = g_installed;
    g_installed = p;
    return previous;
}

} // namespace edb
