// Convert: the ticked folders written to the destination the user chooses (.eml files, mbox,
// Maildir or an IMAP server). The work runs on a worker; progress, Cancel and the summary are
// on the window thread.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/screen_fit.h"
#include "views/message_list.h"
#include "frontend/scan_texts.h"
#include "platform/platform.h"

#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <unordered_map>
#ifdef EDB_HAVE_EXPORT
#include "app/destination_dialog.h"
#include "convert/convert.h"
#include "deliver/imap_destination.h"
#endif

namespace edbapp {

namespace {

// The folder list is linked: one walk gives every entry's place, so a Convert of many folders
// never walks it once per folder.
std::unordered_map<const edb::FolderNode*, std::size_t> FolderPlaces(const edb::StoreCatalog& c) {
    std::unordered_map<const edb::FolderNode*, std::size_t> places;
    std::size_t i = 0;
    for (const edb::FolderNode& node : c.folderList) {
        places.emplace(&node, i++);
    }
    return places;
}

} // namespace

#ifdef EDB_HAVE_EXPORT
namespace {

// Where a destination writes, as the session tells destinations apart.
std::string DestinationKey(const ConvertDestination& where, const std::string& imapAddress) {
    return edb::views::DestinationKey(where.kind,
                                      where.kind == ConvertDestination::Kind::Imap
                                          ? imapAddress
                                          : QDir::cleanPath(where.folder).toStdString());
}

edb::conv::FileFormat FormatOf(ConvertDestination::Kind kind) {
    switch (kind) {
    case ConvertDestination::Kind::Mbox:
        return edb::conv::FileFormat::Mbox;
    case ConvertDestination::Kind::Maildir:
        return edb::conv::FileFormat::Maildir;
    case ConvertDestination::Kind::Pst:
        return edb::conv::FileFormat::Pst;
    default:
        return edb::conv::FileFormat::Eml;
    }
}

// A folder path for the progress label, cut at the front to what the fixed dialog shows.
QString ElidedFolder(const std::string& path) {
    constexpr qsizetype kRoom = 40;
    const QString p = QString::fromStdString(path);
    return p.size() <= kRoom ? p : QStringLiteral("...") + p.right(kRoom - 3);
}

} // namespace

bool MainDialog::askBeforeWritingAgain(std::vector<edb::conv::FolderPath>& folders,
                                       const std::string& destination) {
    const auto places = FolderPlaces(m_catalog);
    std::vector<std::size_t> indices;
    for (const edb::conv::FolderPath& f : folders) {
        const auto at = places.find(f.node);
        indices.push_back(at == places.end() ? edb::kNoFolder : at->second);
    }
    const std::vector<std::size_t> again = m_session.alreadyConverted(indices, destination);
    if (again.empty()) {
        return true;
    }
    QStringList names;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (std::find(again.begin(), again.end(), indices[i]) != again.end()) {
            names << QString::fromStdString(folders[i].treePath);
        }
    }
    constexpr qsizetype kNamed = 8;
    QString list = QStringList(names.mid(0, kNamed)).join(QLatin1Char('\n'));
    if (names.size() > kNamed) {
        list += QStringLiteral("\n... and %1 more").arg(names.size() - kNamed);
    }
    if (edb::platform().askYesNo(
            this, QStringLiteral("These folders were converted to this destination before:\n%1"
                                 "\n\nWrite them again?")
                      .arg(list))) {
        return true;
    }
    // No: the others still go; nothing is written twice unasked.
    std::vector<edb::conv::FolderPath> rest;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (std::find(again.begin(), again.end(), indices[i]) == again.end()) {
            rest.push_back(folders[i]);
        }
    }
    folders = std::move(rest);
    return !folders.empty();
}

void MainDialog::convert() {
    if (!m_session.allowed(edb::session::Command::Convert)) {
        return; // one conversion at a time
    }
    // Ticks inside collapsed branches are shown before anything is written.
    for (QTreeWidgetItem* item : m_folderTree->tickedItems()) {
        for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent()) {
            up->setExpanded(true);
        }
    }
    // The session's ticks, in folder-list order; one walk finds their entries.
    std::vector<edb::conv::FolderPath> folders;
    auto next = m_session.ticked().begin();
    std::size_t i = 0;
    for (const edb::FolderNode& node : m_catalog.folderList) {
        if (next == m_session.ticked().end()) {
            break;
        }
        if (*next == i) {
            folders.push_back(edb::conv::PathOf(m_catalog, node));
            ++next;
        }
        ++i;
    }
    if (folders.empty()) {
        edb::platform().showInformation(this, QStringLiteral("Please tick the folders to convert"));
        return;
    }
    convertFolders(std::move(folders));
}

void MainDialog::convertFolder(edb::TreeItem item) {
    if (!m_session.allowed(edb::session::Command::Convert)) {
        return;
    }
    if (const edb::FolderNode* node = edb::FolderAt(m_catalog, m_folderTree->folderOf(item))) {
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
    const std::string key = DestinationKey(*where, upload ? ImapAddress(*where) : std::string());
    if (!askBeforeWritingAgain(folders, key)) {
        return;
    }
    if (upload) {
        edb::conv::ImapSettings imap;
        try {
            imap.url = edb::conv::ParseImapUrl(ImapAddress(*where));
        } catch (const std::invalid_argument& e) {
            edb::platform().showError(this, QStringLiteral("Server address: %1").arg(e.what()));
            return;
        }
        imap.password = where->password.toStdString();
        ApplyImapSecurity(*where, imap);
        destination = edb::conv::MakeImapDestination(imap, false);
        place = QString::fromStdString(imap.url.host);
    } else {
        destination =
            edb::conv::MakeFileDestination(FormatOf(where->kind), where->folder.toStdString());
    }
    // Cancel, and the window closing, stop the work between messages.
    auto token = std::make_shared<edb::CancelToken>();
    m_convertToken = token;
    m_session.startTask(edb::session::Task::Convert, token);
    m_convertProgress = new QProgressDialog(QStringLiteral("Converting..."),
                                            QStringLiteral("Cancel"), 0, 100, this);
    m_convertProgress->setWindowTitle(QString::fromLatin1(kCaption));
    // A fixed size on the window's screen: long folder paths are cut in the label, so Cancel
    // never moves.
    FitOnScreen(*m_convertProgress, m_convertProgress->sizeHint().expandedTo(QSize(520, 0)), this);
    m_convertProgress->setFixedSize(m_convertProgress->size());
    m_convertProgress->setWindowModality(Qt::WindowModal);
    m_convertProgress->setMinimumDuration(0);
    m_convertProgress->setAutoClose(false);
    m_convertProgress->setAutoReset(false);
    connect(m_convertProgress, &QProgressDialog::canceled, this,
            [token] { token->cancel(edb::StopReason::User); });
    m_convertProgress->show();

    const QString verb = upload ? QStringLiteral("Uploading") : QStringLiteral("Converting");
    m_workers.start(token, [this, folders = std::move(folders), destination, place, upload, verb,
                            token, key] {
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
                                      .arg(verb, ElidedFolder(p.folder))
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
                           .arg(s.foldersWritten)
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
        if (s.logFailed) {
            // What the log would have said is not lost: its first lines are shown here.
            const QStringList lines =
                QString::fromStdString(s.logText).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            constexpr qsizetype kShown = 8;
            text += QStringLiteral("\nThe export log could not be written: %1\nIt says:\n%2")
                        .arg(QString::fromStdString(s.failures.back().reason),
                             lines.mid(0, kShown).join(QLatin1Char('\n')));
            if (lines.size() > kShown) {
                text += QStringLiteral("\n... and %1 more line(s)").arg(lines.size() - kShown);
            }
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
        std::vector<const edb::FolderNode*> saved;
        for (const edb::conv::SavedFolder& f : s.savedFolders) {
            saved.push_back(f.folder);
        }
        // An upload has no folder to open.
        m_gate.call([&] {
            const auto places = FolderPlaces(m_catalog);
            std::vector<std::size_t> indices;
            for (const edb::FolderNode* f : saved) {
                if (const auto at = places.find(f); at != places.end()) {
                    indices.push_back(at->second);
                }
            }
            convertFinished(text, indices, key, upload ? QString() : place);
        });
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

void MainDialog::convertFinished(const QString& summary, const std::vector<std::size_t>& saved,
                                 const std::string& destination, const QString& outDir) {
    if (m_convertProgress != nullptr) {
        m_convertProgress->close();
        m_convertProgress->deleteLater();
        m_convertProgress = nullptr;
    }
    m_session.finishTask(edb::session::Task::Convert, m_convertToken);
    m_convertToken.reset();
    // Folders written completely lose their ticks and are marked converted; they list, view
    // and convert like any other.
    for (const std::size_t f : saved) {
        m_session.markConverted(f, destination);
    }
    for (QTreeWidgetItem* item : m_folderTree->tickedItems()) {
        const std::size_t f = m_folderTree->folderOf(m_folderTree->handleOf(item));
        if (m_session.convertedTo(f, destination)) {
            FolderTreeView::untickOne(item);
            m_folderTree->updateAncestorsTicks(item);
            FolderTreeView::updateAncestorsMarks(item);
        }
    }
    syncTicks(); // an ancestor may have lost its tick with them
    markConvertedItems();
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

void MainDialog::markConvertedItems() {
    for (QTreeWidgetItemIterator it(m_folderTree); *it != nullptr; ++it) {
        m_folderTree->setConverted(
            *it, m_session.isConverted(m_folderTree->folderOf(m_folderTree->handleOf(*it))));
    }
}

} // namespace edbapp
