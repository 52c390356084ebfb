// Find's speed: 100 000 messages in 4 mailboxes and 200 folders searched by sender, subject
// and date, against one plain pass over the same messages that only reads their texts. Prints
// the times, the ratio and the throughput; the target is a whole search under one second.
//
//     bench-find [MESSAGES]
#include "catalog/catalog.h"
#include "views/message_search.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

edb::FolderId makeId(std::uint64_t n) {
    edb::FolderId id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    return id;
}

constexpr const char* kNames[] = {"Ann Archer", "Bob Baker", "Carl Cooper", "Dora Dyer",
                                  "Eve Eaton",  "Fred Ford", "Gina Gray",   "Hugo Hart"};
constexpr const char* kTopics[] = {"Quarterly report", "Lunch on Friday", "Invoice 2291",
                                   "Project timeline", "Holiday plans",   "Server outage",
                                   "Meeting notes",    "Budget review"};

double seconds(const std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t messages = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000;
    edb::StoreCatalog catalog;
    constexpr std::uint64_t kMailboxes = 4;
    constexpr std::uint64_t kFolders = 200;
    for (std::uint64_t m = 1; m <= kMailboxes; ++m) {
        catalog.mailboxList.AddFolder(edb::FolderId{}, makeId(m), "Mailbox " + std::to_string(m),
                                      0);
        catalog.folderList.AddFolder(edb::FolderId{}, makeId(m), "Mailbox " + std::to_string(m), 0);
    }
    for (std::uint64_t f = 0; f < kFolders; ++f) {
        catalog.folderList.AddFolder(makeId(1 + f % kMailboxes), makeId(100 + f),
                                     "Folder " + std::to_string(f), 0);
    }
    constexpr std::uint64_t kFiletime2020 = 132'223'104'000'000'000ULL;
    constexpr std::uint64_t kDay = 864'000'000'000ULL;
    for (std::size_t i = 0; i < messages; ++i) {
        std::string subject =
            std::string(i % 5 == 1 ? "RE: " : "") + kTopics[(i * 7) % 8] + " #" + std::to_string(i);
        catalog.messages.AddMessage(makeId(100 + i % kFolders), makeId(1'000'000 + i),
                                    std::move(subject), kNames[(i * 3) % 8],
                                    kFiletime2020 + (i % 1500) * kDay, 0);
    }

    // The floor: one pass that reads every sender and subject under the same lock.
    const auto b0 = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    catalog.messages.readFields([&] {
        for (const edb::MessageEntry& m : catalog.messages) {
            bytes += m.sender.size() + m.subject.size() + (m.filetime & 1);
        }
    });
    const double floor = seconds(std::chrono::steady_clock::now() - b0);

    struct Case {
        const char* name;
        edb::conv::SearchQuery query;
    };
    edb::conv::SearchQuery bySender;
    bySender.from = "carl";
    edb::conv::SearchQuery byText;
    byText.text = "invoice";
    edb::conv::SearchQuery byDate;
    byDate.subject = "re:";
    byDate.after = kFiletime2020 + 100 * kDay;
    byDate.before = kFiletime2020 + 400 * kDay;
    edb::conv::SearchQuery nothing;
    nothing.text = "no such words anywhere";
    const Case cases[] = {{"sender", bySender},
                          {"subject or sender", byText},
                          {"subject and dates", byDate},
                          {"no match", nothing}};

    std::printf("== find: %zu messages, %llu folders in %llu mailboxes (%zu text bytes)\n",
                messages, static_cast<unsigned long long>(kFolders),
                static_cast<unsigned long long>(kMailboxes), bytes);
    std::printf("  plain pass          %8.4f s\n", floor);
    double worst = 0;
    for (const Case& c : cases) {
        edb::conv::FolderPaths paths(catalog);
        std::size_t found = 0;
        const auto t0 = std::chrono::steady_clock::now();
        (void)edb::conv::FindMessages(catalog, paths, c.query, [&](edb::conv::SearchMatch&&) {
            ++found;
            return true;
        });
        const double t = seconds(std::chrono::steady_clock::now() - t0);
        worst = std::max(worst, t);
        std::printf("  %-18s  %8.4f s  %9.0f messages/s  ratio to plain pass %6.1f  (%zu found)\n",
                    c.name, t, static_cast<double>(messages) / t, floor > 0 ? t / floor : 0.0,
                    found);
    }
    std::printf("  slowest search      %8.4f s  (target < 1 s for 100000 messages)\n", worst);
    return 0;
}
