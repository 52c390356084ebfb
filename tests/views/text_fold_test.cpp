// Find's rule: letter case folded the same way in every locale for Latin, Greek and Cyrillic,
// and over a whole catalog as `edb2eml find` and the windows' Find search it.
#include "views/message_search.h"
#include "views/text_fold.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using edb::views::ContainsText;
using edb::views::FoldCase;

TEST(FoldCase, CapitalsOfEachScriptMeetTheirSmallLetters) {
    // Latin-1 Supplement, Latin Extended-A (both orders of its pairs), Greek with accents and
    // final sigma, Cyrillic in both of its capital ranges.
    EXPECT_EQ(FoldCase("ÜBER Straße ÀÉÎÕØÞ"), "über straße àéîõøþ");
    EXPECT_EQ(FoldCase("× ÷"), "× ÷"); // signs between the letters stay
    EXPECT_EQ(FoldCase("ĀĂĄĆŁŃŇŊŒŠŸŹŽ"), "āăąćłńňŋœšÿźž");
    EXPECT_EQ(FoldCase("ĳıĸ"), "ĳıĸ");
    EXPECT_EQ(FoldCase("İſẞ"), "isß");
    EXPECT_EQ(FoldCase("ΆΈΉΊΌΎΏ ΑΩ Σς"), "άέήίόύώ αω σσ");
    EXPECT_EQ(FoldCase("ЁЂЏ АЯ Ѣ Ґ Ӂ Ӑ Ӏ"), "ёђџ ая ѣ ґ ӂ ӑ ӏ");
    EXPECT_EQ(FoldCase("µ"), "μ");
    EXPECT_EQ(FoldCase("中文 🙂"), "中文 🙂");
}

TEST(FoldCase, BytesThatAreNoCharacterPassThroughUnchanged) {
    const std::string damaged("A\xC3" "B\xE2\x82" "\xFF\xC0\xAF\xED\xA0\x80Ü", 14);
    EXPECT_EQ(FoldCase(damaged), std::string("a\xC3" "b\xE2\x82" "\xFF\xC0\xAF\xED\xA0\x80ü", 14));
    EXPECT_EQ(FoldCase(std::string("\xC3", 1)), std::string("\xC3", 1)); // cut at the end
}

TEST(ContainsText, MatchesAcrossLetterCaseInEveryScript) {
    EXPECT_TRUE(ContainsText("Re: Über den Wolken", "über"));
    EXPECT_TRUE(ContainsText("re: über den wolken", "ÜBER"));
    EXPECT_TRUE(ContainsText("ΣΥΝΑΝΤΗΣΗ", "συνάντηση") == false); // accents still count
    EXPECT_TRUE(ContainsText("ΣΥΝΑΝΤΗΣΗ αύριο", "συναντηση"));
    EXPECT_TRUE(ContainsText("Отчёт за МАРТ", "март"));
    EXPECT_TRUE(ContainsText("anything", ""));
    EXPECT_FALSE(ContainsText("", "a"));
    EXPECT_FALSE(ContainsText("uber", "über"));
}

TEST(FindMessages, ASmallLetterFindsWhatItsCapitalFinds) {
    auto catalog = std::make_unique<edb::StoreCatalog>();
    const edb::FolderId box{1, 0, 0, 0, 0, 0, 0, 1};
    const edb::FolderId inbox{2, 0, 0, 0, 0, 0, 0, 1};
    catalog->mailboxList.AddFolder(edb::FolderId{}, box, "Ann", 0);
    catalog->folderList.AddFolder(box, inbox, "Inbox", 0);
    catalog->messages.AddMessage(inbox, edb::FolderId{1}, "Über uns", "Jörg", 0, 0);
    catalog->messages.AddMessage(inbox, edb::FolderId{2}, "über alles", "ÖMER", 0, 0);
    catalog->messages.AddMessage(inbox, edb::FolderId{3}, "Uber", "x", 0, 0);
    const auto count = [&](edb::conv::SearchQuery q) {
        edb::conv::FolderPaths paths(*catalog);
        std::size_t n = 0;
        (void)edb::conv::FindMessages(*catalog, paths, q, [&](edb::conv::SearchMatch&&) {
            ++n;
            return true;
        });
        return n;
    };
    edb::conv::SearchQuery small;
    small.subject = "über";
    edb::conv::SearchQuery capital;
    capital.subject = "Über";
    EXPECT_EQ(count(small), 2u);
    EXPECT_EQ(count(capital), 2u);
    edb::conv::SearchQuery sender;
    sender.from = "jÖRG";
    EXPECT_EQ(count(sender), 1u);
    edb::conv::SearchQuery either;
    either.text = "ömer";
    EXPECT_EQ(count(either), 1u);
}

} // namespace
