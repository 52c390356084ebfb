#include "tests/platform/fake_platform.h"

namespace edb {

namespace {

template <typename T> T takeFront(std::deque<T>& queue, T fallback) {
    if (queue.empty())
        return fallback;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}

} // namespace

void FakePlatform::showError(QWidget* owner, const QString& text) {
    lastOwner = owner;
    errors << text;
    log << QStringLiteral("error: ") + text;
    if (onMessageBox)
        onMessageBox(text);
}

bool FakePlatform::askYesNo(QWidget* owner, const QString& text) {
    lastOwner = owner;
    questions << text;
    log << QStringLiteral("question: ") + text;
    if (onMessageBox)
        onMessageBox(text);
    return takeFront(yesNoAnswers, defaultYesNo);
}

void FakePlatform::showInformation(QWidget* owner, const QString& text) {
    lastOwner = owner;
    informations << text;
    log << QStringLiteral("information: ") + text;
    if (onMessageBox)
        onMessageBox(text);
}

QString FakePlatform::chooseOpenFile(QWidget* owner, const QString& caption, const QString&) {
    lastOwner = owner;
    log << QStringLiteral("open file: ") + caption;
    return takeFront(openFileAnswers, QString());
}

QString FakePlatform::chooseSaveFile(QWidget* owner, const QString& caption,
                                     const QString& suggestedName, const QString&) {
    lastOwner = owner;
    suggestedNames << suggestedName;
    log << QStringLiteral("save file: ") + caption;
    return takeFront(saveFileAnswers, QString());
}

QString FakePlatform::chooseDirectory(QWidget* owner, const QString& caption) {
    lastOwner = owner;
    log << QStringLiteral("directory: ") + caption;
    return takeFront(directoryAnswers, QString());
}

bool FakePlatform::openWithDefaultHandler(const QString& target) {
    openedTargets << target;
    log << QStringLiteral("open: ") + target;
    return openSucceeds;
}

bool FakePlatform::composeMail(const MailDraft& draft) {
    mails << draft;
    log << QStringLiteral("mail: ") + draft.recipient;
    return mailSucceeds;
}

void FakePlatform::exitProcess(int status) {
    exitStatuses << status;
    log << QStringLiteral("exit: ") + QString::number(status);
}

} // namespace edb
