// Convert: the ticked folders written as .eml files or mbox files where the user says, by the
// same destinations edb2eml.exe export uses, so the bytes are the same. The work runs on a
// worker; progress, Cancel and the summary are on the window thread.
#include "win32/main_window.h"

#include "convert/convert.h"
#include "deliver/destination.h"
#include "deliver/output_names.h"
#include "frontend/folder_paths.h"
#include "frontend/scan_texts.h"
#include "views/progress.h"
#include "views/texts.h"
#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

#include <filesystem>
#include <unordered_map>

namespace edbwin {

namespace {

std::string ElidedFolder(const std::string& path) {
    constexpr std::size_t kRoom = 48;
    return path.size() <= kRoom ? path : "..." + path.substr(path.size() - (kRoom - 3));
}

// The conversion's summary in the words views/ gives both windows.
std::string SummaryText(const edb::conv::ConvertSummary& s, const std::string& place) {
    edb::views::ConvertTally t;
    t.place = place;
    t.saved = s.saved;
    t.foldersWritten = s.foldersWritten;
    t.present = s.present;
    t.notes = s.notes;
    // The log holds every run's block; it is named when this run had something to note.
    t.logPath = s.logHasNotes ? Utf8(s.logPath.wstring()) : std::string();
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
    return edb::views::ConvertSummaryText(t);
}

} // namespace

void MainWindow::convert() {
    if (!m_session.allowed(edb::session::Command::Convert)) {
        return; // one conversion at a time
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
        m_prompts.showInformation(hwnd(), edb::views::kTickFoldersText);
        return;
    }
    const std::optional<ConvertTarget> target = m_prompts.chooseConvertTarget(hwnd());
    if (!target) {
        return;
    }
    if (const std::string why = TargetUnavailableReason(target->kind); !why.empty()) {
        m_prompts.showError(hwnd(), why);
        return;
    }
    const auto format = target->kind == ConvertTarget::Kind::Mbox  ? edb::conv::FileFormat::Mbox
                        : target->kind == ConvertTarget::Kind::Pst ? edb::conv::FileFormat::Pst
                                                                   : edb::conv::FileFormat::Eml;
    std::shared_ptr<edb::conv::Destination> destination =
        edb::conv::MakeFileDestination(format, edb::conv::Utf8Path(target->folder));
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(Wide(target->folder), ec);
    const std::string key = edb::views::DestinationKey(
        target->kind,
        Utf8((ec ? std::filesystem::path(Wide(target->folder)) : where).lexically_normal().wstring()));
    const std::string place = target->folder;

    auto token = std::make_shared<edb::CancelToken>();
    m_convertToken = token;
    m_session.startTask(edb::session::Task::Convert, token);
    ++m_pending;
    m_progress = std::make_unique<ProgressDialog>([token] { token->cancel(edb::StopReason::User); });
    if (m_progress->create(IDD_PROGRESS, hwnd())) {
        ShowWindow(m_progress->hwnd(), SW_SHOW);
    }
    // The main dialog stays enabled, so its close can ask and cancel; what it allows
    // meanwhile is the session's Convert row.
    applyCommands();

    m_workers.start(token, [this, folders = std::move(folders), destination, place, token, key] {
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
            std::string label =
                edb::views::ConvertProgressText(false, ElidedFolder(p.folder), p.done, p.total);
            m_inbox.post([this, label = std::move(label), percent] {
                if (m_progress != nullptr && m_progress->isOpen()) {
                    m_progress->show(label, percent);
                }
            });
        };
        const edb::conv::ConvertSummary s = edb::conv::Convert(m_catalog, folders, options);
        std::string text = SummaryText(s, place);
        if (edb::StoreSizeChanged(m_catalog)) {
            text += "\n" + edb::FileChangedText(m_catalog.storeFile.fileName());
        }
        std::vector<const edb::FolderNode*> saved;
        for (const edb::conv::SavedFolder& f : s.savedFolders) {
            saved.push_back(f.folder);
        }
        m_inbox.post([this, text, saved, key] {
            std::unordered_map<const edb::FolderNode*, std::size_t> places;
            std::size_t n = 0;
            for (const edb::FolderNode& node : m_catalog.folderList) {
                places.emplace(&node, n++);
            }
            std::vector<std::size_t> indices;
            for (const edb::FolderNode* f : saved) {
                if (const auto at = places.find(f); at != places.end()) {
                    indices.push_back(at->second);
                }
            }
            convertFinished(text, indices, key);
        });
    });
}

void MainWindow::convertFinished(const std::string& summary, const std::vector<std::size_t>& saved,
                                 const std::string& destination) {
    m_progress.reset();
    --m_pending;
    m_session.finishTask(edb::session::Task::Convert, m_convertToken);
    m_convertToken.reset();
    for (const std::size_t f : saved) {
        m_session.markConverted(f, destination);
    }
    applyCommands();
    showTicks(m_session.untickConverted(destination)); // ancestors follow as after a click
    m_prompts.showInformation(hwnd(), summary);
}

} // namespace edbwin
