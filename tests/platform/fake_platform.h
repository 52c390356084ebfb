// A platform for tests: records every request and answers from a script.
//
//     edb::FakePlatform fake;
//     fake.yesNoAnswers = {true};          // the next question is answered Yes
//     fake.openFileAnswers = {"/tmp/a.edb"};
//     edb::ScopedPlatform use(fake);
//     ... drive the window ...
//     QCOMPARE(fake.log, QStringList{"question: Do you want to stop current process ?"});
#pragma once

#include "platform/platform.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

namespace edb {

class FakePlatform final : public Platform {
public:
    // Every request in order, one line each: "error: <text>", "question: <text>",
    // "information: <text>", "open file: <caption>", "save file: <caption>", "directory:
    // <caption>", "open: <target>", "mail: <recipient>", "exit: <status>".
    QStringList log;

    QStringList errors;
    QStringList questions;
    QStringList informations;
    QStringList openedTargets;
    QList<MailDraft> mails;
    QList<int> exitStatuses;
    // Owner window of the last message box or chooser (null when it had none).
    QWidget* lastOwner = nullptr;

    // Scripted answers, consumed front first; when a queue is empty the default applies.
    std::deque<bool> yesNoAnswers;
    bool defaultYesNo = false;
    std::deque<QString> openFileAnswers;  // default: cancelled (empty)
    std::deque<QString> directoryAnswers; // default: cancelled (empty)
    std::deque<QString> saveFileAnswers;  // default: cancelled (empty)
    QStringList suggestedNames;           // what each save-file chooser proposed
    bool openSucceeds = true;
    bool mailSucceeds = true;

    // Runs inside every message box, as if the box were on screen (for checking the window's
    // state while it waits for the user). Optional.
    std::function<void(const QString& text)> onMessageBox;

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

} // namespace edb
