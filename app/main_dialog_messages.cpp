// The message side of the main dialog: the right-click menus of the message list and the
// folder tree, the Find window, the message viewer and saving one message as an .eml file.
#ifdef EDB_HAVE_EXPORT
#include "app/find_window.h"
#include "app/message_viewer.h"
#include "content/message_content.h"
#include "views/message_search.h"
#include "deliver/output_names.h"
#endif
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/report_list_view.h"
#include "views/message_list.h"
#include "platform/platform.h"

#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QSaveFile>

namespace edbapp {

void MainDialog::showMessageMenu(int row, const QPoint& global) {
    const auto* message = reinterpret_cast<const edb::MessageEntry*>(m_messageList->rowTag(row));
    if (message == nullptr) {
        return;
    }
    QMenu menu(this);
    menu.addAction(QStringLiteral("View Message..."), this,
                   [this, message] { viewMessage(message); });
    menu.addAction(QStringLiteral("Save as EML..."), this,
                   [this, message] { saveMessageAsEml(message); });
    menu.exec(global);
}

void MainDialog::showFolderMenu(edb::TreeItem item, const QPoint& global) {
    if (m_folderTree->folderOf(item) == edb::kNoFolder) {
        return; // a mailbox root: no folder of its own
    }
    QMenu menu(this);
    QAction* convertOne = menu.addAction(QStringLiteral("Convert This Folder..."), this,
                                         [this, item] { convertFolder(item); });
    convertOne->setEnabled(m_session.allowed(edb::session::Command::Convert));
    menu.exec(global);
}

#ifdef EDB_HAVE_EXPORT
void MainDialog::openFind() {
    if (m_findWindow == nullptr) {
        m_findWindow = new FindWindow(m_catalog, this);
        connect(m_findWindow, &FindWindow::viewMessage, this, &MainDialog::viewMessage);
        // A session task like the others: a new search supersedes the last.
        connect(m_findWindow, &FindWindow::searchStarted, this,
                [this](const std::shared_ptr<edb::CancelToken>& token) {
                    m_session.startTask(edb::session::Task::Find, token);
                });
        connect(m_findWindow, &FindWindow::searchEnded, this,
                [this](const std::shared_ptr<edb::CancelToken>& token) {
                    m_session.finishTask(edb::session::Task::Find, token);
                });
    }
    m_findWindow->show();
    m_findWindow->raise();
    m_findWindow->activateWindow();
    m_findWindow->textEdit()->setFocus();
}

void MainDialog::viewMessage(const edb::MessageEntry* message) {
    if (message == nullptr) {
        return;
    }
    // Each viewer is its own window, deleted when closed.
    auto* viewer = new MessageViewer(m_catalog, *message, this);
    viewer->show();
}

void MainDialog::saveMessageAsEml(const edb::MessageEntry* message) {
    if (message == nullptr) {
        return;
    }
    const QString suggested =
        QString::fromStdString(edb::conv::SanitizeName(message->subject, "message")) +
        QStringLiteral(".eml");
    const QString path = edb::platform().chooseSaveFile(
        this, QStringLiteral("Save as EML"), suggested, QStringLiteral("E-mail message (*.eml)"));
    if (path.isEmpty()) {
        return;
    }
    std::string eml;
    try {
        eml = edb::conv::RenderMessageEml(m_catalog, *message,
                                          edb::conv::MessageFolderPath(m_catalog, *message));
    } catch (const std::exception& e) {
        edb::platform().showError(this, QStringLiteral("Unable to read the message from %1: %2")
                                            .arg(m_chosenPath, QString::fromUtf8(e.what())));
        return;
    }
    // Written whole or not at all.
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(eml.data(), static_cast<qint64>(eml.size())) ==
                        static_cast<qint64>(eml.size()) &&
                    file.commit();
    if (!ok) {
        edb::platform().showError(this,
                                  QStringLiteral("Unable to save %1: %2")
                                      .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}
#else
void MainDialog::openFind() {
    edb::platform().showInformation(this, QStringLiteral("This build has no message search."));
}
void MainDialog::viewMessage(const edb::MessageEntry*) {
    openFind();
}
void MainDialog::saveMessageAsEml(const edb::MessageEntry*) {
    openFind();
}
#endif

} // namespace edbapp
