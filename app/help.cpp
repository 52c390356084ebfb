#include "app/help.h"

#include "platform/platform.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace edbapp {

namespace {

// The help pages in a window of the program's own, for desktops that cannot open them.
void ShowHelpWindow(QWidget* owner, const QString& htmlPath) {
    auto* window = owner != nullptr
                       ? owner->findChild<QDialog*>(QString::fromLatin1(kHelpWindowName))
                       : nullptr;
    if (window == nullptr) {
        window = new QDialog(owner, Qt::Window);
        window->setObjectName(QString::fromLatin1(kHelpWindowName));
        window->setWindowTitle(QString::fromLatin1(edb::kMessageCaption) +
                               QStringLiteral(" - Help"));
        auto* browser = new QTextBrowser(window);
        browser->setOpenLinks(true);
        browser->setOpenExternalLinks(false); // the pages are local; nothing is fetched
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        window->resize(640, 520);
    }
    auto* browser = window->findChild<QTextBrowser*>();
    browser->setSource(QUrl::fromLocalFile(htmlPath));
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

QString FindHelpFile(const QString& startupDirectory) {
    const QDir dir(startupDirectory);
    for (const char* name : {kHelpFileName, kHelpHtmlName}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (QFileInfo(path).isFile()) {
            return path;
        }
    }
    return {};
}

void OpenHelpFile(QWidget* owner, const QString& startupDirectory) {
    const QString path = FindHelpFile(startupDirectory);
    if (path.isEmpty()) {
        edb::platform().showInformation(owner,
                                        QStringLiteral("Unable to locate software Help file"));
        return;
    }
    if (edb::platform().openWithDefaultHandler(path)) {
        return;
    }
    // No program on this desktop opens the file: the HTML pages need none.
    const QString html = QDir(startupDirectory).filePath(QString::fromLatin1(kHelpHtmlName));
    if (QFileInfo(html).isFile()) {
        ShowHelpWindow(owner, html);
        return;
    }
    edb::platform().showError(
        owner, QStringLiteral("Unable to open the help file %1: this desktop has no program "
                              "for it.")
                   .arg(QDir::toNativeSeparators(path)));
}

} // namespace edbapp
