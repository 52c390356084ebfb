#include "views/message_list.h"
#include "catalog/tree_build.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using edb::FolderId;
using Cells = std::vector<std::string>;

FolderId id(std::uint8_t n) {
    return FolderId{n, 0, 0, 0, 0, 0, 0, 2};
}

// FILETIME of a UTC calendar time (proleptic Gregorian, days counted as in civil calendars).
std::uint64_t filetime(std::int64_t y, unsigned mo, unsigned d, unsigned h, unsigned mi,
                       unsigned s) {
    y -= mo <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (mo > 2 ? mo - 3 : mo + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days1970 = era * 146097 + std::int64_t{doe} - 719468;
    const std::int64_t seconds = days1970 * 86400 + h * 3600 + mi * 60 + s + 11644473600LL;
    return static_cast<std::uint64_t>(seconds) * 10'000'000ULL;
}

// Pins the process's time zone for one test and puts the old one back. On Windows the zone is
// the system's and cannot be changed by a process: only UTC, which the test run gives it, is
// checked there; other zones skip.
class ZoneTest : public ::testing::Test {
protected:
#ifdef _WIN32
    static bool zone(const char* tz) {
        return std::string(tz) == "UTC0" && edb::views::ListDateText(0) == "Mon 1/1/1601 12:0:0 AM";
    }
#else
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            m_old = tz;
        }
    }
    void TearDown() override {
        if (m_old) {
            setenv("TZ", m_old->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static bool zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
        return true;
    }

private:
    std::optional<std::string> m_old;
#endif
};

#define ZONE(tz)                                                                                   \
    if (!zone(tz))                                                                                 \
    GTEST_SKIP() << "the system's time zone is not " << (tz)

TEST_F(ZoneTest, UtcClockRunsTwelveHoursWithAmAndPm) {
    ZONE("UTC0");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 3, 40, 7)), "Fri 5/3/2004 3:40:7 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 0, 0, 0)), "Fri 5/3/2004 12:0:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 0, 15, 0)), "Fri 5/3/2004 12:15:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 11, 59, 59)), "Fri 5/3/2004 11:59:59 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 12, 0, 0)), "Fri 5/3/2004 12:0:0 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 13, 5, 0)), "Fri 5/3/2004 1:5:0 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 23, 59, 59)), "Fri 5/3/2004 11:59:59 PM");
    // Parts of a second are dropped, never rounded up.
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 3, 40, 7) + 9'999'999),
              "Fri 5/3/2004 3:40:7 AM");
}

// The ends of the C runtime's clocks (1970, 2038, 3000) are no ends here.
TEST_F(ZoneTest, DatesEitherSideOfTheRuntimesLimitsConvert) {
    ZONE("UTC0");
    EXPECT_EQ(edb::views::ListDateText(filetime(1969, 12, 31, 23, 59, 59)), "Wed 31/12/1969 11:59:59 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(1900, 3, 1, 12, 0, 0)), "Thu 1/3/1900 12:0:0 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2038, 1, 19, 3, 14, 8)), "Tue 19/1/2038 3:14:8 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(3001, 1, 1, 0, 0, 0)), "Thu 1/1/3001 12:0:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2000, 2, 29, 23, 0, 0)), "Tue 29/2/2000 11:0:0 PM");
}

TEST_F(ZoneTest, HalfHourOffsetCarriesThroughDaysMonthsAndYears) {
    ZONE("IST-5:30");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 3, 40, 7)), "Fri 5/3/2004 9:10:7 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 18, 45, 0)), "Sat 6/3/2004 12:15:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 6, 30, 0)), "Fri 5/3/2004 12:0:0 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2005, 1, 31, 20, 0, 0)), "Tue 1/2/2005 1:30:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 2, 28, 20, 0, 0)), "Sun 29/2/2004 1:30:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2005, 2, 28, 20, 0, 0)), "Tue 1/3/2005 1:30:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 12, 31, 18, 30, 0)), "Sat 1/1/2005 12:0:0 AM");
}

TEST_F(ZoneTest, DaylightSavingAndWestOfUtc) {
    ZONE("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(edb::views::ListDateText(filetime(2004, 3, 5, 3, 40, 7)), "Thu 4/3/2004 10:40:7 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2021, 3, 14, 6, 59, 59)), "Sun 14/3/2021 1:59:59 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2021, 3, 14, 7, 0, 0)), "Sun 14/3/2021 3:0:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2021, 7, 1, 4, 0, 0)), "Thu 1/7/2021 12:0:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(2021, 1, 1, 4, 0, 0)), "Thu 31/12/2020 11:0:0 PM");
}

TEST_F(ZoneTest, YearsOutsideTheCalendarAndUnconvertibleValuesGiveNoText) {
    ZONE("UTC0");
    EXPECT_EQ(edb::views::ListDateText(0), "Mon 1/1/1601 12:0:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(9999, 12, 31, 23, 59, 59)), "Fri 31/12/9999 11:59:59 PM");
    EXPECT_EQ(edb::views::ListDateText(filetime(10000, 1, 1, 0, 0, 0)), "");
    EXPECT_EQ(edb::views::ListDateText(0x7FFFFFFFFFFFFFFFULL), "");
    EXPECT_EQ(edb::views::ListDateText(0x8000000000000000ULL), "");
    EXPECT_EQ(edb::views::ListDateText(~0ULL), "");

    // The local year decides: 1601 west of UTC is still 1600, 10000 UTC is 9999 there.
    ZONE("EST5");
    EXPECT_EQ(edb::views::ListDateText(0), "");
    EXPECT_EQ(edb::views::ListDateText(filetime(10000, 1, 1, 0, 0, 0)), "Fri 31/12/9999 7:0:0 PM");
    ZONE("IST-5:30");
    EXPECT_EQ(edb::views::ListDateText(0), "Mon 1/1/1601 5:30:0 AM");
    EXPECT_EQ(edb::views::ListDateText(filetime(9999, 12, 31, 20, 0, 0)), "");
}

struct Catalog {
    std::unique_ptr<edb::StoreCatalog> c = std::make_unique<edb::StoreCatalog>();

    // Appends a folder; its place in the folder list is what a tree build hands out.
    std::size_t folder(std::uint8_t n, const std::string& name, char kind) {
        c->folderList.AddFolder(id(100), id(n), name, kind);
        return c->folderList.size() - 1;
    }
    edb::MessageEntry& message(std::uint8_t folder, std::uint8_t n, const std::string& subject,
                               const std::string& sender, char kind = 0) {
        c->messages.AddMessage(id(folder), id(n), subject, sender, 0, kind);
        edb::MessageEntry* last = nullptr;
        for (auto& m : c->messages) {
            last = &m;
        }
        return *last;
    }
};

std::vector<std::string> headings(const edb::views::MessageListing& l) {
    std::vector<std::string> out;
    for (const auto& col : l.columns) {
        out.push_back(col.heading + ":" + std::to_string(col.width));
    }
    return out;
}

// "sent items" is the same folder as "Sent Items": its stored names are recipients, so "To".
TEST(ListMessages, ColumnSetsFollowKindAndTheSentItemsNameInAnyLetterCase) {
    Catalog cat;
    cat.folder(1, "Sent Items", 0);
    cat.folder(2, "sent items", 0);
    cat.folder(3, "Sent Items", 'c');
    cat.folder(4, "Calendar", 'a');
    EXPECT_EQ(headings(edb::views::ListMessages(*cat.c, 0)),
              (Cells{"No:50", "To:130", "Subject:180", "Date:150"}));
    EXPECT_EQ(headings(edb::views::ListMessages(*cat.c, 1)),
              (Cells{"No:50", "To:130", "Subject:180", "Date:150"}));
    EXPECT_EQ(headings(edb::views::ListMessages(*cat.c, 3)),
              (Cells{"No:50", "From:130", "Subject:180", "Date:150"}));
    EXPECT_EQ(headings(edb::views::ListMessages(*cat.c, 2)),
              (Cells{"No:50", "Full name:80", "First name:80", "Last name:80", "Home Phone No:80",
                     "Business Phone No:80", "Mobile Phone No:80", "Business Address:80",
                     "Email Address:80", "Date:80"}));
}

TEST(ListMessages, UnknownIndicesFindNoFolderAndEmptyFoldersOnlyHaveColumns) {
    Catalog cat;
    cat.folder(1, "Inbox", 0);
    cat.folder(2, "Unshown", 0);
    cat.message(2, 1, "s", "x");
    for (const std::size_t folder : {edb::kNoFolder, std::size_t{99}}) {
        const auto l = edb::views::ListMessages(*cat.c, folder);
        EXPECT_FALSE(l.folderFound);
        EXPECT_TRUE(l.columns.empty());
        EXPECT_TRUE(l.rows.empty());
    }
    const auto empty = edb::views::ListMessages(*cat.c, 0);
    EXPECT_TRUE(empty.folderFound);
    EXPECT_EQ(empty.columns.size(), 4u);
    EXPECT_TRUE(empty.rows.empty());
}

TEST(ListMessages, EachIndexListsItsOwnFolder) {
    Catalog cat;
    cat.folder(1, "First", 0);
    cat.folder(2, "Second", 0);
    cat.message(2, 1, "second's", "x");
    const auto l = edb::views::ListMessages(*cat.c, 0);
    EXPECT_EQ(l.folder->name, "First");
    EXPECT_TRUE(l.rows.empty());
    const auto second = edb::views::ListMessages(*cat.c, 1);
    EXPECT_EQ(second.folder->name, "Second");
    EXPECT_EQ(second.rows.size(), 1u);
}

TEST(ListMessages, RowsNumberPerFolderWithIconsAndCells) {
    Catalog cat;
    cat.folder(1, "Inbox", 0);
    cat.folder(2, "Other", 0);
    cat.message(2, 1, "elsewhere", "x");
    cat.message(1, 2, "plain", "Ann");
    cat.message(2, 3, "elsewhere too", "x");
    auto& withAttachment = cat.message(1, 4, "has file", "Bob");
    withAttachment.attachments.push_back(edb::AttachmentEntry{});
    cat.message(1, 5, "meeting", "Cy", 'a');
    cat.message(1, 6, "card", "Di", 'c')
        .contacts.push_back(edb::ContactEntry{"Full", "First", "Last", "Home", "Business", "Mobile",
                                              "Address", "e@x"});
    cat.message(1, 7, "bare card", "Ed", 'c');
    const auto l = edb::views::ListMessages(*cat.c, 0);
    ASSERT_EQ(l.rows.size(), 5u);
    std::vector<int> images;
    for (const auto& r : l.rows) {
        images.push_back(edb::views::RowImageIndex(r.kind));
    }
    EXPECT_EQ(images, (std::vector<int>{12, 16, 0, 1, 1}));
    const std::string noDate = edb::views::ListDateText(0);
    EXPECT_EQ(l.rows[0].cells, (Cells{"1", "Ann", "plain", noDate}));
    EXPECT_EQ(l.rows[1].cells, (Cells{"2", "Bob", "has file", noDate}));
    EXPECT_EQ(l.rows[2].cells, (Cells{"3", "Cy", "meeting", noDate}));
    EXPECT_EQ(l.rows[3].cells, (Cells{"4", "Full", "First", "Last", "Home", "Business", "Mobile",
                                      "Address", "e@x", noDate}));
    EXPECT_EQ(l.rows[4].cells, (Cells{"5"})); // contact message without a ContactEntry
    const auto other = edb::views::ListMessages(*cat.c, 1);
    ASSERT_EQ(other.rows.size(), 2u);
    EXPECT_EQ(other.rows[0].cells[0], "1");
    EXPECT_EQ(other.rows[1].cells[2], "elsewhere too");
}

TEST(ForEachMessageRow, StopsWhenTheReceiverSaysSo) {
    Catalog cat;
    const edb::FolderNode& f = *edb::FolderAt(*cat.c, cat.folder(1, "Inbox", 0));
    for (std::uint8_t n = 1; n <= 5; ++n) {
        cat.message(1, n, "m" + std::to_string(n), "x");
    }
    int seen = 0;
    edb::views::ForEachMessageRow(*cat.c, f, [&](edb::views::ListRow&&) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
}

} // namespace
