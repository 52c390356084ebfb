#include "app/help.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>

namespace edbapp {

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
    // The handler's answer is not examined: the desktop reports its own failures.
    (void)edb::platform().openWithDefaultHandler(path);
}

} // namespace edbapp
