// Exchange To Eml: the desktop application. One modal dialog; the run ends with it.
#include "app/main_dialog.h"
#include "resources/artwork.h"
#include "store/catalog.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("exchange-to-eml"));
    edb::initArtwork();
    // The catalog lives for the whole run and is never emptied.
    static edb::StoreCatalog catalog;
    int status = 0;
    {
        edbapp::MainDialog dialog(catalog);
        dialog.exec();
    }
    return status;
}
