// edb2eml find and show as processes on the demo store: find agrees with the folder listings
// that `rows` prints, and show writes byte for byte what `export` writes for the same message.
#include "tests/cli/run_cli.h"
#include "tests/support/demo_store.h"
#include "tests/support/store_builder.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <sys/wait.h>

namespace {

using clitest::Outcome;

// stdout only; stderr (the progress bar, errors) goes along when asked for.
Outcome run(const std::string& args, bool withStderr = false) {
    return clitest::runEdb2eml("", args, withStderr ? " 2>&1" : " 2>/dev/null");
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// "Sun 23/3/2003 10:11:14 PM" as yyyymmdd.
int dayNumber(const std::string& date) {
    int d = 0;
    int m = 0;
    int y = 0;
    if (std::sscanf(date.c_str(), "%*s %d/%d/%d", &d, &m, &y) != 3) {
        return 0;
    }
    return y * 10000 + m * 100 + d;
}

class MessageCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_store = new edbtest::TempFile();
        edbtest::writeDemoStore(s_store->path());
    }
    static void TearDownTestSuite() { delete s_store; }
    static std::string store() { return "'" + s_store->str() + "'"; }
    static inline edbtest::TempFile* s_store = nullptr;
};

} // namespace

TEST_F(MessageCommands, FindAgreesWithTheFolderListings) {
    const auto listings = nlohmann::json::parse(run("rows " + store() + " --json").out);
    std::set<std::pair<std::string, int>> expected;
    for (const auto& l : listings) {
        const std::string heading = l["columns"][1]["text"];
        if (heading != "From" && heading != "To") {
            continue; // contacts are not searched
        }
        for (const auto& row : l["rows"]) {
            const auto& cells = row["cells"];
            if (lower(cells[1]).find("a") != std::string::npos &&
                lower(cells[2]).find("re") != std::string::npos) {
                expected.emplace(l["path"], std::stoi(cells[0].get<std::string>()));
            }
        }
    }
    const Outcome found = run("find " + store() + " --from A --subject RE --json");
    ASSERT_EQ(found.status, 0);
    std::set<std::pair<std::string, int>> got;
    for (const auto& m : nlohmann::json::parse(found.out)) {
        got.emplace(m["folder"], m["number"]);
        EXPECT_EQ(m["folder"].get<std::string>().rfind(m["mailbox"].get<std::string>() + "\\", 0),
                  0u);
        EXPECT_EQ(m["message"].get<std::string>().size(), 16u);
    }
    EXPECT_GT(expected.size(), 3u);
    EXPECT_EQ(got, expected);

    // Date bounds: from the first day on, before the second.
    const Outcome dated = run("find " + store() + " --after 2003-06-01 --before 2004-01-01 --json");
    const auto inRange = nlohmann::json::parse(dated.out);
    EXPECT_FALSE(inRange.empty());
    for (const auto& m : inRange) {
        const int day = dayNumber(m["date"]);
        EXPECT_TRUE(day >= 20030601 && day < 20040101) << m["date"];
    }
    const Outcome bad = run("find " + store() + " --before 2004-02-30", true);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("--before expects a date as YYYY-MM-DD"), std::string::npos) << bad.out;
}

TEST_F(MessageCommands, ShowWritesWhatExportWrites) {
    edbtest::TempDir out;
    ASSERT_EQ(run("export " + store() + " -o '" + out.path().string() + "'").status, 0);
    std::vector<std::string> exported;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out.path())) {
        if (e.path().extension() == ".eml") {
            std::ifstream in(e.path(), std::ios::binary);
            exported.push_back(std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    const auto matches = nlohmann::json::parse(run("find " + store() + " --json").out);
    ASSERT_GT(matches.size(), 10u);
    for (const std::size_t pick : {std::size_t{0}, matches.size() / 2, matches.size() - 1}) {
        const auto& m = matches[pick];
        const Outcome byId = run("show " + store() + " " + m["message"].get<std::string>());
        ASSERT_EQ(byId.status, 0);
        const std::string eml = byId.out;
        EXPECT_EQ(std::count(exported.begin(), exported.end(), eml), 1) << m.dump();
        // The folder path and row number as `list` shows them name the same message.
        const std::string byRow =
            m["folder"].get<std::string>() + std::to_string(m["number"].get<int>());
        EXPECT_EQ(run("show " + store() + " '" + byRow + "'").out, eml);
    }
    const Outcome missing = run("show " + store() + " 00000000000000ff", true);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("no message \"00000000000000ff\" in " + s_store->str()),
              std::string::npos)
        << missing.out;
}
