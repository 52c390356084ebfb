// Exchange To Eml: the desktop application. One modal dialog; the run ends with it.
//
//     exchange-to-eml [STORE.edb]
//
// A store named on the command line (as a file manager's "Open with" does) is opened as Browse
// would open it, once the window is shown.
#include "app/main_dialog.h"
#include "resources/artwork.h"
#include "catalog/catalog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <csignal>

int main(int argc, char* argv[]) {
    // A file-size limit is a write error the window reports, not a death without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("exchange-to-eml"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows and converts the mailboxes of an Exchange store file (.edb)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("store"),
                                 QStringLiteral("The .edb file to open at start (optional)."),
                                 QStringLiteral("[STORE.edb]"));
    parser.process(app);
    edb::initArtwork();
    // The catalog lives for the whole run; only a file that held no mailbox is forgotten when
    // another is opened.
    static edb::StoreCatalog catalog;
    int status = 0;
    {
        edbapp::MainDialog dialog(catalog);
        const QStringList stores = parser.positionalArguments();
        if (!stores.isEmpty()) {
            dialog.openStoreWhenShown(stores.front());
        }
        dialog.exec();
    }
    return status;
}
