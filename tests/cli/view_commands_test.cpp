// The view commands on the demo store, through the same parser the executable uses.
#include "cli/command_line.h"
#include "cli/commands.h"
#include "tests/support/demo_store.h"
#include "tests/support/store_builder.h"

#include <filesystem>
#include <functional>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Output {
    std::string out;
    int status = 0;
};

Output run(std::vector<std::string> args) {
    CLI::App app{"edb2eml"};
    app.require_subcommand(0, 1);
    edbcli::addViewCommands(app);
    std::vector<const char*> argv{"edb2eml"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream captured;
    auto* old = std::cout.rdbuf(captured.rdbuf());
    edbcli::g_exitStatus = 0;
    app.parse(static_cast<int>(argv.size()), argv.data());
    std::cout.rdbuf(old);
    return Output{captured.str(), edbcli::g_exitStatus};
}

class ViewCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_store = new edbtest::TempFile();
        edbtest::writeDemoStore(s_store->path());
    }
    static void TearDownTestSuite() { delete s_store; }
    static std::string store() { return s_store->str(); }
    static inline edbtest::TempFile* s_store = nullptr;
};

TEST_F(ViewCommands, TreeHasOneRootPerMailboxAndRowsFollowItDepthFirst) {
    const Output tree = run({"tree", store(), "--json"});
    ASSERT_EQ(tree.status, 0);
    const auto roots = nlohmann::json::parse(tree.out);
    ASSERT_GE(roots.size(), 2u);
    std::vector<std::string> paths;
    std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& n) {
        paths.push_back(n["path"]);
        for (const auto& c : n["children"]) {
            EXPECT_EQ(c["path"].get<std::string>().rfind(n["path"].get<std::string>(), 0), 0u);
            walk(c);
        }
    };
    for (const auto& r : roots) {
        EXPECT_EQ(r["image"], 0);
        EXPECT_EQ(r["path"], r["text"].get<std::string>() + "\\");
        walk(r);
    }
    const Output rows = run({"rows", store(), "--json"});
    const auto listings = nlohmann::json::parse(rows.out);
    std::vector<std::string> listed;
    for (const auto& l : listings) {
        listed.push_back(l["path"]);
        ASSERT_FALSE(l["columns"].is_null()) << l["path"];
        for (const auto& row : l["rows"]) {
            EXPECT_TRUE(row["cells"].size() == l["columns"].size() || row["cells"].size() == 1u);
        }
    }
    std::vector<std::string> expected;
    for (const auto& p : paths) {
        bool isRoot = false;
        for (const auto& r : roots) {
            isRoot = isRoot || r["path"] == p;
        }
        if (!isRoot) {
            expected.push_back(p);
        }
    }
    EXPECT_EQ(listed, expected);
}

TEST_F(ViewCommands, ListFindsAFolderTypedWithSlashesInAnyCase) {
    const Output tree = run({"tree", store(), "--json"});
    const auto roots = nlohmann::json::parse(tree.out);
    const std::string mailbox = roots[0]["text"];
    const Output listed = run({"list", store(), mailbox + "/INBOX"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find(mailbox + "\\Inbox\\"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("No  Kind"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\n1 "), std::string::npos) << listed.out;
    EXPECT_EQ(run({"list", store(), "No such mailbox"}).status, 1);
}

TEST_F(ViewCommands, SummaryCountsAndDrawsTheTree) {
    const Output summary = run({store()});
    EXPECT_EQ(summary.status, 0);
    EXPECT_NE(summary.out.find("Mailboxes"), std::string::npos);
    EXPECT_NE(summary.out.find("├── Inbox  ("), std::string::npos) << summary.out;
}

// The parser every edb2eml has: a path that starts with '/' is a path on every system (on
// Windows the parser would take it for an option), and a mistake on the command line ends
// with status 1, as the README says, not with the parser's own codes.
TEST_F(ViewCommands, SlashPathsArePathsAndUsageMistakesEndWithStatusOne) {
    // The store as a path from the root of the current drive (the current directory's, so it
    // names the same file on Windows as on Linux).
    const std::filesystem::path local = std::filesystem::current_path() / "slash-path-store.edb";
    // A store of its own: the summary an earlier case printed keeps the demo store held
    // until the process ends (on Windows without sharing, so it cannot even be copied).
    edbtest::writeDemoStore(local);
    std::string slashed = local.relative_path().generic_string();
    slashed.insert(slashed.begin(), '/');
    const auto parse = [](std::vector<std::string> args, std::string* out = nullptr) {
        CLI::App app{"edb2eml"};
        edbcli::ConfigureParser(app);
        app.require_subcommand(0, 1);
        edbcli::addViewCommands(app);
        args.insert(args.begin(), "edb2eml");
        std::ostringstream captured;
        std::ostringstream said;
        auto* old = std::cout.rdbuf(captured.rdbuf());
        auto* oldErr = std::cerr.rdbuf(said.rdbuf());
        edbcli::g_exitStatus = 0;
        const int status = edbcli::ParseAndRun(app, args);
        std::cout.rdbuf(old);
        std::cerr.rdbuf(oldErr);
        if (out != nullptr) {
            *out = captured.str();
        }
        return status;
    };
    std::string tree;
    EXPECT_EQ(parse({"tree", "--json", slashed}, &tree), 0) << slashed;
    // The same file named without the slash.
    EXPECT_EQ(tree, run({"tree", local.string(), "--json"}).out);
    EXPECT_EQ(parse({"tree"}), 1);                    // STORE missing
    EXPECT_EQ(parse({"tree", slashed, "--bogus"}), 1); // unknown option
    EXPECT_EQ(parse({"tree", slashed, "extra"}), 1);   // one argument too many
    EXPECT_EQ(parse({"--help"}), 0);
    std::filesystem::remove(local);
}

TEST(ProgramDescription, NamesOnlyWhatTheBuildDoes) {
    const std::string all = edbcli::ProgramDescription(true, true);
    EXPECT_NE(all.find("--format mbox|maildir|pst\n"), std::string::npos);
    EXPECT_NE(all.find("edb2eml upload"), std::string::npos);
    const std::string some = edbcli::ProgramDescription(false, false);
    EXPECT_EQ(some.find("aildir"), std::string::npos);
    EXPECT_EQ(some.find("upload"), std::string::npos);
    EXPECT_NE(some.find("--format mbox|pst\n"), std::string::npos);
    EXPECT_NE(some.find("edb2eml find"), std::string::npos);
}

} // namespace
