#include "views/texts.h"

#include "frontend/unreadable_texts.h"

namespace edb::views {

std::string ScanStatusText(const std::vector<UnreadableRange>& unreadable) {
    return unreadable.empty() ? std::string()
                              : "Read incompletely: " + UnreadableSummaryText(unreadable);
}

std::string MessageCountText(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " message" : " messages");
}

std::string FindStatusText(bool running, std::uint64_t found) {
    if (running) {
        return found == 0 ? "Searching..." : "Searching... " + std::to_string(found) + " found";
    }
    return std::to_string(found) + " message(s) found";
}

std::string ConvertProgressText(bool upload, const std::string& folder, std::uint64_t done,
                                std::uint64_t total) {
    return std::string(upload ? "Uploading " : "Converting ") + folder + " (" +
           std::to_string(done) + " of " + std::to_string(total) + ")";
}

std::string ConvertSummaryText(const ConvertTally& t) {
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    std::string text = n(t.saved) + " message(s) " + (t.upload ? "uploaded" : "saved") + " in " +
                       n(t.foldersWritten) + " folder(s) " + (t.upload ? "to " : "under ") +
                       t.place + ".";
    if (t.present > 0) {
        text += "\n" + n(t.present) + " message(s) were there already.";
    }
    if (t.notes > 0) {
        text += "\n" + n(t.notes) + " message(s) saved without a part that could not be read.";
    }
    if (!t.logPath.empty()) {
        text += "\nWhat is missing is listed in " + t.logPath + ".";
    }
    if (t.logFailed) {
        // What the log would have said is not lost: its first lines are shown here.
        constexpr std::size_t kShown = 8;
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < t.logText.size()) {
            std::size_t end = t.logText.find('\n', at);
            if (end == std::string::npos) {
                end = t.logText.size();
            }
            if (end > at) {
                lines.push_back(t.logText.substr(at, end - at));
            }
            at = end + 1;
        }
        text += "\nThe export log could not be written: " + t.logFailure + "\nIt says:\n";
        for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) {
            text += (i == 0 ? "" : "\n") + lines[i];
        }
        if (lines.size() > kShown) {
            text += "\n... and " + n(lines.size() - kShown) + " more line(s)";
        }
    }
    if (t.failed > 0) {
        text += "\n" + n(t.failed) + " message(s) could not be saved.";
        if (!t.firstFailure.empty()) {
            text += " First: " + t.firstFailure;
        }
    }
    if (t.stopped) {
        text += "\nStopped; converting again finishes the job.";
    }
    if (t.cancelled) {
        text += "\nCancelled: " + n(t.skipped) + " message(s) not saved.";
    }
    if (!t.storeChanged.empty()) {
        text += "\n" + t.storeChanged; // what was written may mix two states of the store
    }
    return text;
}

} // namespace edb::views
