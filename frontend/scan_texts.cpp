#include "frontend/scan_texts.h"

#include "io/file64.h"

namespace edb {

std::string ScanEndText(const ScanResult& result) {
    switch (result.outcome) {
    case ScanOutcome::Complete:
        return {};
    case ScanOutcome::NoMailbox:
        return kNoMailboxText;
    case ScanOutcome::OpenFailed:
        if (result.errorCode == kNotRegularFile) {
            return result.file + ": " + result.reason;
        }
        return "Cannot open " + result.file + ": " + result.reason;
    case ScanOutcome::ReadError:
        if (result.fileChanged) {
            return result.file + ": " + result.reason;
        }
        return "Read error in " + result.file + " at offset " + std::to_string(result.errorOffset) +
               ": " + result.reason;
    case ScanOutcome::Stopped:
        return "Stopped";
    case ScanOutcome::OutOfMemory:
        return result.inLongValueKeys ? kOutOfMemoryText : kNotEnoughMemoryText;
    case ScanOutcome::Failed:
        return "Scan of " + result.file + " failed: " + result.reason;
    }
    return {};
}

bool StoreSizeChanged(const StoreCatalog& catalog) {
    if (!catalog.storeFile.isOpen()) {
        return false;
    }
    try {
        return catalog.storeFile.GetLength() != catalog.storeSize;
    } catch (const FileError&) {
        return true;
    }
}

std::string FileChangedText(const std::string& file) {
    return file + ": " + kFileChangedReason;
}

} // namespace edb
