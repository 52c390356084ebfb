// `edb2eml verify DIR`: every file the export's manifest lists hashed again, and the folder
// walked for files it does not list. Exit 0 only when everything matches.
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "deliver/export_log.h"
#include "deliver/manifest.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "deliver/sha256.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>

namespace edbcli {
namespace {
namespace fs = std::filesystem;
using edb::conv::ManifestFile;

struct Range {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

class Verifier {
public:
    explicit Verifier(fs::path root) : m_root(std::move(root)) {}

    int run() {
        const edb::conv::Manifest manifest(m_root);
        if (!manifest.loadProblem().empty()) {
            std::cerr << "edb2eml: " << TerminalText(manifest.loadProblem()) << '\n';
            return 2;
        }
        if (!manifest.recorded()) {
            std::cerr << "edb2eml: " << TerminalText(m_root.string()) << ": no "
                      << edb::conv::kManifestName << " (not an export of this program, or one "
                      << "made before exports had one)\n";
            return 2;
        }
        for (const edb::conv::ManifestEntry& e : manifest.entries()) {
            for (const ManifestFile& f : e.files) {
                check(f);
            }
        }
        for (const edb::conv::KeptFile& k : manifest.kept()) {
            m_listed.insert(k.path);
            if (k.offset) {
                m_ranges[k.path].push_back({*k.offset, k.size});
            }
            std::cout << "kept: " << TerminalText(k.path) << " (" << TerminalText(k.reason)
                      << ")\n";
        }
        checkCoverage();
        findExtra();
        std::cout << "Files checked: " << m_checked << ", matching: " << m_matching
                  << ", missing: " << m_missing << ", changed: " << m_changed
                  << ", extra: " << m_extra << '\n';
        return m_missing + m_changed + m_extra == 0 ? 0 : 1;
    }

private:
    fs::path pathOf(const std::string& relative) const {
        return m_root / edb::conv::Utf8Path(relative);
    }

    void say(const char* what, const std::string& path, const std::string& detail = {}) {
        std::cout << what << ": " << TerminalText(path);
        if (!detail.empty()) {
            std::cout << " (" << TerminalText(detail) << ")";
        }
        std::cout << '\n';
    }

    void check(const ManifestFile& f) {
        ++m_checked;
        m_listed.insert(f.path);
        const fs::path p = pathOf(f.path);
        if (edb::conv::KindOf(p) != edb::conv::EntryKind::Regular) {
            // An mbox reported once, however many messages it held.
            if (m_gone.insert(f.path).second) {
                say("missing", f.path);
            }
            ++m_missing;
            return;
        }
        std::string digest;
        bool read = true;
        if (f.offset) {
            read = edb::conv::Sha256OfFile(p, digest, *f.offset, f.size);
        } else if (const auto known = m_wholeFiles.find(f.path); known != m_wholeFiles.end()) {
            digest = known->second; // a PST holds many messages: hashed once
        } else {
            read = edb::conv::Sha256OfFile(p, digest);
            m_wholeFiles.emplace(f.path, read ? digest : std::string());
        }
        std::error_code ec;
        const std::uint64_t size = fs::file_size(p, ec);
        if (f.offset) {
            m_ranges[f.path].push_back({*f.offset, f.size});
        }
        if (!read || digest != f.sha256 || (!f.offset && size != f.size)) {
            ++m_changed;
            if (f.offset) {
                say("changed", f.path, "the message at byte " + std::to_string(*f.offset));
            } else if (m_changedFiles.insert(f.path).second) {
                say("changed", f.path); // a PST once, however many messages it holds
            }
            return;
        }
        ++m_matching;
    }

    // The messages of an mbox cover it from its first byte to its last: anything else in it
    // was added since.
    void checkCoverage() {
        for (auto& [path, ranges] : m_ranges) {
            if (m_gone.count(path)) {
                continue;
            }
            std::sort(ranges.begin(), ranges.end(),
                      [](const Range& a, const Range& b) { return a.offset < b.offset; });
            std::uint64_t end = 0;
            bool gap = false;
            for (const Range& r : ranges) {
                gap = gap || r.offset > end;
                end = std::max(end, r.offset + r.size);
            }
            std::error_code ec;
            const std::uint64_t size = fs::file_size(pathOf(path), ec);
            if (gap || size != end) {
                ++m_changed;
                say("changed", path, "bytes no recorded message accounts for");
            }
        }
    }

    void findExtra() {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(m_root, fs::directory_options::none, ec), end;
             !ec && it != end; it.increment(ec)) {
            const fs::file_status st = it->symlink_status(ec);
            if (ec || fs::is_directory(st)) {
                continue;
            }
            const std::string rel = edb::conv::RelativeName(m_root, it->path());
            if (rel == edb::conv::kManifestName || rel == edb::conv::kManifestJournalName ||
                rel == edb::conv::kExportLogName || m_listed.count(rel)) {
                continue;
            }
            ++m_extra;
            say("extra", rel);
        }
    }

    fs::path m_root;
    std::set<std::string> m_listed;
    std::set<std::string> m_gone;
    std::set<std::string> m_changedFiles;
    std::map<std::string, std::vector<Range>> m_ranges;
    std::map<std::string, std::string> m_wholeFiles; // path -> digest, as hashed
    std::size_t m_checked = 0, m_matching = 0, m_missing = 0, m_changed = 0, m_extra = 0;
};

} // namespace

void addVerifyCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "verify", "Check an export folder against its manifest.json: every file hashed again, "
                  "missing, changed and extra files named (exit 0 only when all match)");
    auto dir = std::make_shared<std::string>();
    cmd->add_option("DIR", *dir, "the output folder of an export")->required();
    cmd->callback([dir] { g_exitStatus = Verifier(edb::conv::Utf8Path(*dir)).run(); });
}

} // namespace edbcli
