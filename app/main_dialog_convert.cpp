// Convert: the ticked folders written to the destination the user chooses (.eml files, mbox,
// Maildir or an IMAP server). The work runs on a worker; progress, Cancel and the summary are
// on the window thread.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/screen_fit.h"
#include "views/message_list.h"
#include "frontend/scan_texts.h"
#include "platform/platform.h"
#include "views/controls.h"
#include "views/progress.h"
#include "views/texts.h"

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
        edb::platform().showInformation(this, QString::fromLatin1(edb::views::kTickFoldersText));
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
    // Not modal: the window's own close must reach it (it asks, then cancels); what the
    // window allows meanwhile is the session's Convert row.
    m_convertProgress->setWindowModality(Qt::NonModal);
    m_convertProgress->setMinimumDuration(0);
    m_convertProgress->setAutoClose(false);
    m_convertProgress->setAutoReset(false);
    connect(m_convertProgress, &QProgressDialog::canceled, this,
            [token] { token->cancel(edb::StopReason::User); });
    m_convertProgress->show();
    applyCommands();

    m_workers.start(token, [this, folders = std::move(folders), destination, place, upload,
                            token, key] {
        edb::conv::ConvertOptions options;
        options.destination = destination.get();
        options.cancel = token->flag();
        int shown = -1;
        options.progress = [&](const edb::conv::ConvertProgress& p) {
            const int percent = edb::views::WorkPercent(p.done, p.total);
            if (percent == shown) {
                return;
            }
            shown = percent;
            const QString label = QString::fromStdString(edb::views::ConvertProgressText(
                upload, ElidedFolder(p.folder).toStdString(), p.done, p.total));
            m_gate.call([&] {
                if (m_convertProgress != nullptr) {
                    m_convertProgress->setLabelText(label);
                    m_convertProgress->setValue(percent);
                }
            });
        };
        const edb::conv::ConvertSummary s = edb::conv::Convert(m_catalog, folders, options);
        edb::views::ConvertTally t;
        t.upload = upload;
        t.place = place.toStdString();
        t.saved = s.saved;
        t.foldersWritten = s.foldersWritten;
        t.present = s.present;
        t.notes = s.notes;
        // The log holds every run's block; it is named when this run had something to note.
        t.logPath = s.logHasNotes ? s.logPath.string() : std::string();
        t.logFailed = s.logFailed;
        if (s.logFailed && !s.failures.empty()) {
            t.logFailure = s.failures.back().reason;
        }
        t.logText = s.logText;
        t.failed = s.failed;
        if (!s.failures.empty()) {
            t.firstFailure = s.failures.front().reason;
        }
        t.stopped = s.stopped;
        t.cancelled = s.cancelled;
        t.skipped = s.skipped;
        if (edb::StoreSizeChanged(m_catalog)) {
            t.storeChanged = edb::FileChangedText(m_catalog.storeFile.fileName());
        }
        const QString text = QString::fromStdString(edb::views::ConvertSummaryText(t));
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
    applyCommands();
    // Folders written completely lose their ticks and are marked converted; they list, view
    // and convert like any other.
    for (const std::size_t f : saved) {
        m_session.markConverted(f, destination);
    }
    showTicks(m_session.untickConverted(destination)); // ancestors follow as after a click
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
