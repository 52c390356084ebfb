// Where edb2eml meets the terminal, the output stream and odd store files: store text reaches a
// terminal without controls (JSON stays exact), a full disk or a closed pipe on standard output
// is noticed, a store that is no regular file is refused at once, and a store whose size changes
// while it is read is reported.
#include "cli/cli_scan.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "frontend/scan_texts.h"
#include "tests/cli/run_cli.h"
#include "tests/support/demo_store.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using clitest::Outcome;

std::string shellWord(const std::string& s) {
    return "'" + s + "'";
}

// A shell line's standard output and exit status.
Outcome shell(const std::string& line) {
    Outcome r;
    std::FILE* p = ::popen(line.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        r.out.append(buf, n);
    }
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kEsc = "\x1b[31mred";
const std::string kBell = "bell\x07";
const std::string kOverride = "\u202Etxt.exe";
const std::string kReplacement = "\uFFFD";

class OutputAndInputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_store = new edbtest::TempFile();
        edbtest::DemoOptions options;
        options.extraInboxFolders = {u"\x1b[31mred", u"bell\x07", u"\u202Etxt.exe"};
        edbtest::writeDemoStore(s_store->path(), options);
    }
    static void TearDownTestSuite() { delete s_store; }
    static std::string store() { return shellWord(s_store->str()); }
    static inline edbtest::TempFile* s_store = nullptr;
};

void expectNoTerminalControls(const std::string& text, const std::string& what) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << what;
    EXPECT_EQ(text.find('\x07'), std::string::npos) << what;
    EXPECT_EQ(text.find("\u202E"), std::string::npos) << what;
}

} // namespace

TEST_F(OutputAndInputs, StoreTextReachesTheTerminalWithoutControls) {
    std::vector<std::string> views{"", "tree "};
#ifdef EDB2EML_WITH_EXPORT
    views.push_back("find ");
#endif
    for (const std::string& v : views) {
        const Outcome r = clitest::runEdb2eml("", v + store(), " 2>&1");
        EXPECT_EQ(r.status, 0) << v;
        expectNoTerminalControls(r.out, v);
        // Each control is shown, as U+FFFD, where it was; the rest of the name stays.
        EXPECT_NE(r.out.find(kReplacement + "[31mred"), std::string::npos) << v << r.out;
        EXPECT_NE(r.out.find("bell" + kReplacement), std::string::npos) << v;
        EXPECT_NE(r.out.find(kReplacement + "txt.exe"), std::string::npos) << v;
    }
    // The folder's own listing heads with its path; an unknown folder lists every path on stderr.
    const auto tree =
        nlohmann::json::parse(clitest::runEdb2eml("", "tree --json " + store(), "").out);
    std::string redPath;
    std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& n) {
        if (n["text"] == kEsc) {
            redPath = n["path"];
        }
        for (const auto& c : n["children"]) {
            walk(c);
        }
    };
    for (const auto& root : tree) {
        walk(root);
    }
    ASSERT_FALSE(redPath.empty()) << "JSON keeps the name exact";
    const Outcome list =
        clitest::runEdb2eml("", "list " + store() + " " + shellWord(redPath), " 2>&1");
    EXPECT_EQ(list.status, 0) << list.out;
    expectNoTerminalControls(list.out, "list");
    const Outcome unknown =
        clitest::runEdb2eml("", "list " + store() + " 'no such folder\x1b[2J'", " 2>&1 >/dev/null");
    EXPECT_EQ(unknown.status, 1);
    expectNoTerminalControls(unknown.out, "list of an unknown folder");
    EXPECT_NE(unknown.out.find(kReplacement + "txt.exe"), std::string::npos) << unknown.out;
}

// Every kind of control, each replaced where it stands; letters of any script pass unchanged.
TEST(TerminalText, ReplacesEveryControlAndKeepsText) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::string r = kReplacement;
    for (const Case& c : std::vector<Case>{
             {"Inbox", "Inbox"},
             {"\u0418\u0432\u0430\u043d \u65e5\u672c \u00dcml",
              "\u0418\u0432\u0430\u043d \u65e5\u672c \u00dcml"},
             {"a\tb\nc\rd", "a" + r + "b" + r + "c" + r + "d"},
             {std::string("nul\0x", 5), "nul" + r + "x"},
             {"del\x7f", "del" + r},
             {"c1\u0085\u009b[2J", "c1" + r + r + "[2J"},
             {"\u200e\u200f\u061c\u202a\u2066\u2069\u2028", r + r + r + r + r + r + r},
             {"bad \xff\xc3 utf8", "bad " + r + r + " utf8"},
             {"\xe2\x80", r + r}, // a sequence cut short
         }) {
        EXPECT_EQ(edbcli::TerminalText(c.in), c.out) << c.in;
    }
}

TEST_F(OutputAndInputs, JsonKeepsStoreTextExact) {
    std::vector<std::string> commands{"tree --json ", "rows --json ", "dump "};
#ifdef EDB2EML_WITH_EXPORT
    commands.push_back("find --json ");
#endif
    for (const std::string& c : commands) {
        const Outcome r = clitest::runEdb2eml("", c + store(), " 2>/dev/null");
        ASSERT_EQ(r.status, 0) << c;
        std::string strings; // every string value of the document, one a line
        std::function<void(const nlohmann::json&)> collect = [&](const nlohmann::json& v) {
            if (v.is_string()) {
                strings += v.get<std::string>() + "\n";
            }
            for (const auto& item : v) {
                if (v.is_structured()) {
                    collect(item);
                }
            }
        };
        collect(nlohmann::json::parse(r.out));
        for (const std::string& name : {kEsc, kBell, kOverride}) {
            EXPECT_NE(strings.find(name), std::string::npos) << c << name;
        }
        EXPECT_EQ(strings.find(kReplacement), std::string::npos) << c;
    }
}

// Every command that prints: a full disk on standard output is an error with the reason.
TEST_F(OutputAndInputs, FullDiskOnStandardOutputIsAnError) {
    std::vector<std::string> commands{store(),
                                      "tree " + store(),
                                      "tree --json " + store(),
                                      "rows --json " + store(),
                                      "list " + store() + " 'Ann Smith\\Inbox'",
                                      "dump " + store(),
                                      "--help"};
#ifdef EDB2EML_WITH_EXPORT
    commands.push_back("find " + store());
    commands.push_back("find --json " + store());
    commands.push_back("show " + store() + " 'Ann Smith\\Inbox\\1'");
    edbtest::TempDir out;
    commands.push_back("export " + store() + " -o " + shellWord(out.path().string()));
#endif
    for (const std::string& c : commands) {
        const Outcome r = clitest::runEdb2eml("", c, " 2>&1 >/dev/full");
        EXPECT_EQ(r.status, 1) << c;
        EXPECT_NE(r.out.find("edb2eml: cannot write to standard output: No space left on device"),
                  std::string::npos)
            << c << ": " << r.out;
    }
}

// `| head` ends the output early: edb2eml ends as other tools do, killed by SIGPIPE (141)
// without a word, also when its parent handed SIGPIPE over ignored.
TEST_F(OutputAndInputs, ClosedPipeEndsQuietly) {
    edbtest::TempFile err("stderr", ".txt");
    edbtest::TempFile status("status", ".txt");
    for (const std::string trap : {"", "trap '' PIPE; "}) {
        for (const std::string c : {"dump ", "rows --json "}) {
            const std::string line = trap + "( " + shellWord(EDB2EML_PATH) + " " + c + store() +
                                     " 2>" + shellWord(err.str()) + "; echo $? >" +
                                     shellWord(status.str()) + " ) | head -n 1 >/dev/null";
            ASSERT_EQ(shell(line).status, 0) << line;
            EXPECT_EQ(readFile(status.path()), "141\n") << line;
            EXPECT_EQ(readFile(err.path()), "") << line;
        }
    }
}

// A FIFO would block the open for ever, a device read for ever: both, and a directory, are
// refused before anything is read. `timeout` keeps a regression from hanging the suite.
TEST(OddStores, WhatIsNoRegularFileIsRefusedAtOnce) {
    edbtest::TempDir dir;
    const auto fifo = dir.path() / "store.edb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo.string(), dir.path().string(), std::string("/dev/zero")}) {
        for (const std::string c : {"", "dump "}) {
            const Outcome r = clitest::runEdb2eml("timeout 20", c + shellWord(path), " 2>&1");
            EXPECT_EQ(r.status, 1) << c << path << ": " << r.out;
            EXPECT_NE(r.out.find("edb2eml: " + path + ": not a regular file"), std::string::npos)
                << r.out;
        }
    }
}

TEST(OddStores, SecondOpenerIsToldWhoHoldsTheStore) {
    edbtest::TempFile store;
    edbtest::writeDemoStore(store.path());
    edb::CFile64 holder;
    ASSERT_TRUE(holder.Open(store.str()));
    const Outcome r = clitest::runEdb2eml("", shellWord(store.str()), " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(store.str() + ": another edb2eml or the window has this store open"),
              std::string::npos)
        << r.out;
}

namespace {

// Changes the store's size once, in the middle of stage `stage` of the scan.
class ChangingHost : public edb::ScanHost {
public:
    ChangingHost(std::filesystem::path path, int stage, std::uintmax_t newSize)
        : m_path(std::move(path)), m_stage(stage), m_newSize(newSize) {}
    void progress(std::int64_t position) override {
        if (!m_changed && m_stagesDone == m_stage && position >= (m_stage == 0 ? 30 : 0)) {
            std::filesystem::resize_file(m_path, m_newSize);
            m_changed = true;
        }
    }
    void mailboxRowsReady(const std::vector<std::string>&) override {}
    void stageFinished(const char*) override { ++m_stagesDone; }
    bool m_changed = false;

private:
    std::filesystem::path m_path;
    int m_stage;
    std::uintmax_t m_newSize;
    int m_stagesDone = 0;
};

} // namespace

TEST(OddStores, SizeChangeDuringTheScanIsReported) {
    struct Case {
        int stage;
        double sizeFactor; // of the original size
    };
    // Shrunk in the first pass, to nothing in it (no mailbox is found then), grown in the
    // long-value stage.
    for (const Case c : {Case{0, 0.5}, Case{0, 0.0}, Case{9, 1.5}}) {
        edbtest::TempFile store;
        edbtest::writeDemoStore(store.path());
        const auto size = std::filesystem::file_size(store.path());
        ChangingHost host(store.path(), c.stage,
                          static_cast<std::uintmax_t>(static_cast<double>(size) * c.sizeFactor) /
                              4096 * 4096);
        edb::StoreCatalog catalog;
        const edb::ScanResult result = edb::RunScan(catalog, store.str(), host);
        ASSERT_TRUE(host.m_changed) << c.stage;
        EXPECT_EQ(result.outcome, edb::ScanOutcome::ReadError) << c.stage;
        EXPECT_TRUE(result.fileChanged);
        EXPECT_EQ(edb::ScanEndText(result), store.str() + ": the file changed while it was read");
    }
}

TEST(OddStores, SizeChangeAfterTheScanIsReportedOnce) {
    edbtest::TempFile store;
    edbtest::writeDemoStore(store.path());
    edb::StoreCatalog catalog;
    ::testing::internal::CaptureStderr();
    const edb::ScanResult result = edbcli::scanStore(catalog, store.str(), false);
    ASSERT_EQ(result.outcome, edb::ScanOutcome::Complete);
    edbcli::g_storeChanged = false;
    EXPECT_FALSE(edbcli::reportIfStoreChanged(catalog));
    std::filesystem::resize_file(store.path(), catalog.storeSize - 4096);
    EXPECT_TRUE(edbcli::reportIfStoreChanged(catalog));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(edbcli::g_storeChanged);
    EXPECT_EQ(said, "edb2eml: " + store.str() + ": the file changed while it was read\n");
    edbcli::g_storeChanged = false;
}

namespace {

// What the bar would show, in order.
class RecordingHost : public edbcli::CliScanHost {
public:
    RecordingHost() : CliScanHost(false) {}
    void progress(std::int64_t position) override { shown.push_back(overall(position)); }
    void stageFinished(const char* stage) override {
        CliScanHost::stageFinished(stage);
        shown.push_back(overall(0));
    }
    std::vector<int> shown;
};

} // namespace

TEST(ScanProgress, OneBarRisesFromZeroToAHundredOverTheWholeScan) {
    edbtest::TempFile store;
    edbtest::writeDemoStore(store.path());
    RecordingHost host;
    edb::StoreCatalog catalog;
    ASSERT_EQ(edb::RunScan(catalog, store.str(), host).outcome, edb::ScanOutcome::Complete);
    ASSERT_FALSE(host.shown.empty());
    EXPECT_LE(host.shown.front(), 1);
    EXPECT_EQ(host.shown.back(), 100);
    EXPECT_TRUE(std::is_sorted(host.shown.begin(), host.shown.end()));
    // It moves in small steps, not in a few jumps.
    std::vector<int> distinct = host.shown;
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_GE(distinct.size(), 50u);
}
