#include "app/help.h"

#include "platform/platform.h"

#include <QCoreApplication>
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

QStringList HelpDirectories(const QString& startupDirectory) {
    // The start directory first, as the users know it; then beside the program, so a program
    // started from its own folder (or from anywhere, by a file manager) finds its help; then
    // where an installation keeps its documentation.
    const QString program = QCoreApplication::applicationDirPath();
    QStringList dirs{startupDirectory, program};
    if (!program.isEmpty()) {
        dirs << QDir(program).filePath(QStringLiteral(EDB_HELP_INSTALLED_FROM_PROGRAM));
    }
    return dirs;
}

QString FindHelpFile(const QString& startupDirectory) {
    for (const char* name : {kHelpFileName, kHelpHtmlName}) {
        for (const QString& d : HelpDirectories(startupDirectory)) {
            const QString path = QDir(d).filePath(QString::fromLatin1(name));
            if (!d.isEmpty() && QFileInfo(path).isFile()) {
                return QDir::cleanPath(path);
            }
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
    const QString html = QFileInfo(path).dir().filePath(QString::fromLatin1(kHelpHtmlName));
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
