// edb2eml as a process: a store held by another opener is refused, and a page the disk cannot
// read is listed in the dump with exit status 3.
#include "io/file64.h"
#include "tests/cli/run_cli.h"
#include "tests/support/demo_store.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/wait.h>

namespace {

using clitest::Outcome; // stdout and stderr together

Outcome runCli(const std::string& env, const std::string& args) {
    return clitest::runEdb2eml(env, args, " 2>&1");
}

} // namespace

TEST(Edb2emlRobustness, SecondOpenerIsRefusedWhileTheStoreIsHeld) {
    edbtest::TempFile store;
    edbtest::writeDemoStore(store.path(), {1, 2});
    {
        edb::CFile64 holder;
        ASSERT_TRUE(holder.Open(store.str()));
        const Outcome r = runCli("", "dump '" + store.str() + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(store.str()), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("another edb2eml or the window has this store open"),
                  std::string::npos)
            << r.out;
    }
    const Outcome released =
        runCli("", "'" + store.str() + "'"); // released: the summary works again
    EXPECT_EQ(released.status, 0) << released.out;
}

TEST(Edb2emlRobustness, ReadFaultIsListedInTheDump) {
    edbtest::TempFile store;
    edbtest::writeDemoStore(store.path(), {1, 2});
    const std::string at = std::to_string(5 * edb::kPageSize + 1);
    const Outcome r = runCli(std::string("LD_PRELOAD='") + EDB_READ_FAULTS_LIBRARY +
                                 "' EDB_TEST_READ_FAULT_FILE='" + store.str() +
                                 "' EDB_TEST_READ_FAULTS=" + at + "+1",
                             "dump '" + store.str() + "'");
    EXPECT_EQ(r.status, 3);
    // stderr names the file, what was lost and the reason; the JSON follows on stdout.
    const std::size_t brace = r.out.find('{');
    ASSERT_NE(brace, std::string::npos) << r.out;
    const std::string before = r.out.substr(0, brace);
    EXPECT_NE(before.find(store.str() + ": read incompletely: 1 range (4096 bytes) could not be "
                                        "read: Input/output error"),
              std::string::npos)
        << before;
    const auto doc = nlohmann::json::parse(r.out.substr(brace));
    EXPECT_EQ(doc.at("outcome"), "complete");
    EXPECT_EQ(doc.at("unreadable"),
              nlohmann::json::parse(R"([{"offset": 20480, "length": 4096,
                                         "reason": "Input/output error"}])"));
}
