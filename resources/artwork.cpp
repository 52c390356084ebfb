#include "resources/artwork.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerArtwork() {
    Q_INIT_RESOURCE(artwork);
}

namespace edb {

void initArtwork() {
    static const bool registered = (registerArtwork(), true);
    (void)registered;
}

QIcon windowIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/artwork/window-icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace edb
