// The platform on a Qt desktop: QMessageBox, QFileDialog and QDesktopServices.
#pragma once

#include "platform/platform.h"

#include <QUrl>

namespace edb {

class QtPlatform final : public Platform {
public:
    void showError(QWidget* owner, const QString& text) override;
    bool askYesNo(QWidget* owner, const QString& text) override;
    void showInformation(QWidget* owner, const QString& text) override;
    QString chooseOpenFile(QWidget* owner, const QString& caption, const QString& filter) override;
    QString chooseSaveFile(QWidget* owner, const QString& caption, const QString& suggestedName,
                           const QString& filter) override;
    QString chooseDirectory(QWidget* owner, const QString& caption) override;
    bool openWithDefaultHandler(const QString& target) override;
    bool composeMail(const MailDraft& draft) override;
    void exitProcess(int status) override;
};

// What the shell's "open" would hand to a handler for target: an existing file or directory
// as a file URL, an address with a scheme ("http://...", "mailto:...") as it stands, a bare
// "www." or "ftp." host as http/ftp. Anything else (a bare mail address, a missing file, an
// empty text) gives an invalid URL: there is nothing to open it with.
[[nodiscard]] QUrl resolveOpenTarget(const QString& target);

// The mailto: URL for a draft: the recipient without its "SMTP:" address type, subject and body
// as query items when not empty. The attachment entry cannot travel in a mailto: URL.
[[nodiscard]] QUrl mailtoUrl(const MailDraft& draft);

} // namespace edb
