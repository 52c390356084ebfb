#pragma once
// What Convert is told and what it reports: options, progress, the summary of a run.
#include "deliver/destination.h"
#include "catalog/catalog.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace edb::conv {

struct ConvertProgress {
    std::size_t done = 0;  // messages handled so far
    std::size_t total = 0; // messages in the chosen folders
    std::string folder;    // tree path of the folder being written
};

struct ConvertIssue {
    std::string folder; // tree path
    std::string item;   // message subject or file, may be empty
    std::string reason;
};

struct SavedFolder {
    std::string treePath;
    const FolderNode* folder = nullptr;
    std::string location; // directory, file or server mailbox
    std::size_t messages = 0;
};

struct ConvertSummary {
    std::size_t saved = 0;   // messages written
    std::size_t present = 0; // messages the destination already held (not written again)
    std::size_t skipped = 0; // messages not written (cancelled)
    std::size_t failed = 0;  // messages that could not be written
    std::size_t notes = 0;   // messages written with a part missing (noted in file and log)
    std::vector<ConvertIssue> failures;
    std::vector<SavedFolder> savedFolders; // folders written completely
    std::size_t foldersWritten = 0;        // folders that received a message, complete or not
    // export-log.txt when something was missing or a folder repeated another; empty otherwise.
    std::filesystem::path logPath;
    // The log could not be written: logText is what it holds, for the caller to show.
    bool logFailed = false;
    bool logHasNotes = false; // the log names a missing part or a repeated folder
    std::string logText;
    bool cancelled = false;
    std::string interruptedIn; // tree path of the folder the run was cancelled in, if any
    bool stopped = false; // a fatal destination error ended the run
    std::vector<std::string> remarks; // the destination's word on the run ("x.pst written again")
    // manifest.json, when the destination has a folder of its own; manifestFailed when it (or
    // its journal) could not be written, the reason among the failures.
    std::filesystem::path manifestPath;
    bool manifestFailed = false;
    // Files found in the way (damaged, cut, unknown): left as they were, named here.
    std::vector<KeptFile> kept;
};

struct ConvertOptions {
    std::filesystem::path outDir; // for .eml files when no destination is given
    Destination* destination = nullptr;
    std::function<void(const ConvertProgress&)> progress; // may be empty
    const std::atomic<bool>* cancel = nullptr;            // checked between messages
    // For the manifest: which program ran and the options it was given, as name and value.
    std::string program;
    std::vector<std::pair<std::string, std::string>> runOptions;
};

} // namespace edb::conv
