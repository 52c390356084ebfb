#include "platform/qt_platform.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrlQuery>
#include <cstdio>
#include <cstdlib>

namespace edb {

namespace {

int runBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QString::fromLatin1(kMessageCaption), text, buttons, owner);
    box.setDefaultButton(defaultButton);
    // Without an owner the box must still block the whole program, like a system-modal box.
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec();
}

} // namespace

Platform& desktopPlatform() {
    static QtPlatform desktop;
    return desktop;
}

void QtPlatform::showError(QWidget* owner, const QString& text) {
    runBox(owner, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtPlatform::askYesNo(QWidget* owner, const QString& text) {
    return runBox(owner, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::Yes) == QMessageBox::Yes;
}

void QtPlatform::showInformation(QWidget* owner, const QString& text) {
    runBox(owner, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

QString QtPlatform::chooseOpenFile(QWidget* owner, const QString& caption, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, caption, QString(), filter);
}

QString QtPlatform::chooseSaveFile(QWidget* owner, const QString& caption,
                                   const QString& suggestedName, const QString& filter) {
    return QFileDialog::getSaveFileName(owner, caption, suggestedName, filter);
}

QString QtPlatform::chooseDirectory(QWidget* owner, const QString& caption) {
    return QFileDialog::getExistingDirectory(owner, caption);
}

bool QtPlatform::openWithDefaultHandler(const QString& target) {
    const QUrl url = resolveOpenTarget(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool QtPlatform::composeMail(const MailDraft& draft) {
    const QUrl url = mailtoUrl(draft);
    return url.isValid() && QDesktopServices::openUrl(url);
}

void QtPlatform::exitProcess(int status) {
    // "At once": worker threads may still be reading the store, so no static destructors run
    // under their feet. Only the C streams are flushed.
    std::fflush(nullptr);
    std::_Exit(status);
}

QUrl resolveOpenTarget(const QString& target) {
    const QString text = target.trimmed();
    if (text.isEmpty())
        return {};
    const QFileInfo file(text);
    if (file.exists())
        return QUrl::fromLocalFile(file.absoluteFilePath());
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + text, QUrl::StrictMode);
    if (text.startsWith(QLatin1String("ftp."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("ftp://") + text, QUrl::StrictMode);
    const QUrl url(text, QUrl::StrictMode);
    // A one-letter scheme is a drive letter ("C:\..."), i.e. a file that does not exist.
    if (url.isValid() && url.scheme().size() > 1)
        return url;
    return {};
}

QUrl mailtoUrl(const MailDraft& draft) {
    QString address = draft.recipient.trimmed();
    const QLatin1String smtp("SMTP:");
    if (address.startsWith(smtp, Qt::CaseInsensitive))
        address = address.mid(smtp.size());
    if (address.isEmpty())
        return {};
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(address);
    // Values are encoded first so that '&', '=' and '#' inside them stay text.
    const auto encoded = [](const QString& v) {
        return QString::fromLatin1(QUrl::toPercentEncoding(v));
    };
    QUrlQuery query;
    if (!draft.subject.isEmpty())
        query.addQueryItem(QStringLiteral("subject"), encoded(draft.subject));
    if (!draft.body.isEmpty())
        query.addQueryItem(QStringLiteral("body"), encoded(draft.body));
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

} // namespace edb
