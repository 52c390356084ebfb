// Convert: the ticked folders written to the destination the user chooses (.eml files, mbox,
// Maildir or an IMAP server). The work runs on a worker; progress, Cancel and the summary are
// on the window thread.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "catalog/list_rows.h"
#include "frontend/scan_texts.h"
#include "platform/platform.h"

#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#ifdef EDB_HAVE_EXPORT
#include "app/destination_dialog.h"
#include "export/convert.h"
#include "export/imap_destination.h"
#endif

namespace edbapp {

#ifdef EDB_HAVE_EXPORT
void MainDialog::convert() {
    if (m_convertProgress != nullptr) {
        return; // one conversion at a time
    }
    std::vector<edb::conv::FolderPath> folders;
    for (QTreeWidgetItem* item : m_folderTree->tickedItems()) {
        const edb::TreeItem handle = m_folderTree->handleOf(item);
        if (const edb::FolderNode* node = edb::FolderForTreeItem(m_catalog, handle)) {
            folders.push_back(edb::conv::PathOf(m_catalog, *node));
        }
    }
    if (folders.empty()) {
        edb::platform().showInformation(this, QStringLiteral("Please tick the folders to convert"));
        return;
    }
    convertFolders(std::move(folders));
}

void MainDialog::convertFolder(edb::TreeItem item) {
    if (m_convertProgress != nullptr) {
        return;
    }
    if (isSavedItem(item)) {
        edb::platform().showError(this, QStringLiteral("Folder already saved"));
        return;
    }
    if (const edb::FolderNode* node = edb::FolderForTreeItem(m_catalog, item)) {
        convertFolders({edb::conv::PathOf(m_catalog, *node)});
    }
}

void MainDialog::convertFolders(std::vector<edb::conv::FolderPath> folders) {
    const std::optional<ConvertDestination> where = DestinationDialog::ask(this);
    if (!where) {
        return;
    }
    std::shared_ptr<edb::conv::Destination> destination;
    const bool upload = where->kind == ConvertDestination::Kind::Imap;
    QString place = where->folder;
    if (upload) {
        edb::conv::ImapSettings imap;
        try {
            imap.url = edb::conv::ParseImapUrl(ImapAddress(*where));
        } catch (const std::invalid_argument& e) {
            edb::platform().showError(this, QStringLiteral("Server address: %1").arg(e.what()));
            return;
        }
        imap.password = where->password.toStdString();
        imap.noTls = where->noTls;
        destination = edb::conv::MakeImapDestination(imap, false);
        place = QString::fromStdString(imap.url.host);
    } else {
        const auto format =
            where->kind == ConvertDestination::Kind::Mbox      ? edb::conv::FileFormat::Mbox
            : where->kind == ConvertDestination::Kind::Maildir ? edb::conv::FileFormat::Maildir
                                                               : edb::conv::FileFormat::Eml;
        destination = edb::conv::MakeFileDestination(format, where->folder.toStdString());
    }
    // Cancel, and the window closing, stop the work between messages.
    auto token = std::make_shared<edb::CancelToken>();
    m_convertProgress = new QProgressDialog(QStringLiteral("Converting..."),
                                            QStringLiteral("Cancel"), 0, 100, this);
    m_convertProgress->setWindowTitle(QString::fromLatin1(kCaption));
    m_convertProgress->setWindowModality(Qt::WindowModal);
    m_convertProgress->setMinimumDuration(0);
    m_convertProgress->setAutoClose(false);
    m_convertProgress->setAutoReset(false);
    connect(m_convertProgress, &QProgressDialog::canceled, this,
            [token] { token->cancel(edb::StopReason::User); });
    m_convertProgress->show();

    const QString verb = upload ? QStringLiteral("Uploading") : QStringLiteral("Converting");
    m_workers.start(token, [this, folders = std::move(folders), destination, place, upload, verb,
                            token] {
        edb::conv::ConvertOptions options;
        options.destination = destination.get();
        options.cancel = token->flag();
        int shown = -1;
        options.progress = [&](const edb::conv::ConvertProgress& p) {
            const int percent = p.total == 0 ? 100 : static_cast<int>(100 * p.done / p.total);
            if (percent == shown) {
                return;
            }
            shown = percent;
            const QString label = QStringLiteral("%1 %2 (%3 of %4)")
                                      .arg(verb, QString::fromStdString(p.folder))
                                      .arg(p.done)
                                      .arg(p.total);
            m_gate.call([&] {
                if (m_convertProgress != nullptr) {
                    m_convertProgress->setLabelText(label);
                    m_convertProgress->setValue(percent);
                }
            });
        };
        const edb::conv::ConvertSummary s = edb::conv::Convert(m_catalog, folders, options);
        QString text = QStringLiteral("%1 message(s) %2 in %3 folder(s) %4 %5.")
                           .arg(s.saved)
                           .arg(upload ? QStringLiteral("uploaded") : QStringLiteral("saved"))
                           .arg(s.savedFolders.size())
                           .arg(upload ? QStringLiteral("to") : QStringLiteral("under"), place);
        if (s.present > 0) {
            text += QStringLiteral("\n%1 message(s) were there already.").arg(s.present);
        }
        if (s.notes > 0) {
            text += QStringLiteral("\n%1 message(s) saved without a part that could not be read.")
                        .arg(s.notes);
        }
        if (!s.logPath.empty()) {
            text += QStringLiteral("\nWhat is missing is listed in %1.")
                        .arg(QString::fromStdString(s.logPath.string()));
        }
        if (s.failed > 0) {
            text += QStringLiteral("\n%1 message(s) could not be saved.").arg(s.failed);
            if (!s.failures.empty()) {
                text += QStringLiteral(" First: %1")
                            .arg(QString::fromStdString(s.failures.front().reason));
            }
        }
        if (s.stopped) {
            text += QStringLiteral("\nStopped; converting again finishes the job.");
        }
        if (s.cancelled) {
            text += QStringLiteral("\nCancelled: %1 message(s) not saved.").arg(s.skipped);
        }
        if (edb::StoreSizeChanged(m_catalog)) {
            // What was written may mix two states of the store.
            text += QStringLiteral("\n") +
                    QString::fromStdString(edb::FileChangedText(m_catalog.storeFile.fileName()));
        }
        std::vector<std::pair<std::string, edb::TreeItem>> saved;
        for (const edb::conv::SavedFolder& f : s.savedFolders) {
            saved.emplace_back(f.treePath, f.treeItem);
        }
        // An upload has no folder to open.
        m_gate.call([&] { convertFinished(text, saved, upload ? QString() : place); });
    });
}
#else
void MainDialog::convert() {
    edb::platform().showInformation(this, QStringLiteral("This build has no conversion to EML."));
}

void MainDialog::convertFolder(edb::TreeItem) {
    convert();
}
#endif

void MainDialog::convertFinished(const QString& summary,
                                 const std::vector<std::pair<std::string, edb::TreeItem>>& saved,
                                 const QString& outDir) {
    if (m_convertProgress != nullptr) {
        m_convertProgress->close();
        m_convertProgress->deleteLater();
        m_convertProgress = nullptr;
    }
    // Saved folders join the list the selection guard reads, and lose their ticks: they can
    // be neither ticked nor listed again.
    for (const auto& [path, item] : saved) {
        m_state.savedFolders.add(path, item);
        if (QTreeWidgetItem* treeItem = m_folderTree->itemFor(item)) {
            FolderTreeView::untickOne(treeItem);
            m_folderTree->updateAncestorsTicks(treeItem);
            FolderTreeView::updateAncestorsMarks(treeItem);
        }
    }
    if (outDir.isEmpty()) {
        edb::platform().showInformation(this, summary);
        return;
    }
    if (edb::platform().askYesNo(this, summary + QStringLiteral("\n\nOpen the output folder?")) &&
        !edb::platform().openWithDefaultHandler(outDir)) {
        edb::platform().showError(this, QStringLiteral("Unable to open the output folder %1: "
                                                       "this desktop has no program for it.")
                                            .arg(QDir::toNativeSeparators(outDir)));
    }
}

} // namespace edbapp
