// The viewer's header reading and Convert's date reading, against GMime on the same files.
#include "deliver/destination.h"
#include "mime/eml_headers.h"
#include "mime/eml_writer.h"
#include "tests/export/gmime_reader.h"

#include <gtest/gtest.h>

namespace {
using namespace edb::conv;

TEST(MimeReading, ViewerHeadersMatchGmimesOnWrittenMessages) {
    const std::vector<std::string> names = {"Ann Smith",
                                            "Smith, Ann",
                                            "Иван Петров",
                                            "\"quoted\" (paren) <angle>",
                                            "=?utf-8?q?x?=",
                                            std::string(90, 'n') + " \xE2\x80\x94 long",
                                            "",
                                            "a\tb  c"};
    const std::vector<std::string> subjects = {
        "Hello",
        "Grüße aus Köln — Café",
        "=?x?= literal",
        std::string(200, 's'),
        "Отчёт за квартал: итоги и планы на следующий год, с приложениями",
        ""};
    for (std::size_t i = 0; i < names.size(); ++i) {
        EmlInput in;
        in.from = {names[i], "ann@example.org"};
        in.to = {{names[(i + 1) % names.size()], "bob@example.org"}, {"", "c@example.org"}};
        in.subject = subjects[i % subjects.size()];
        in.filetime = 0x01c2d345fc5db900ULL;
        in.plainText = "x";
        const std::string eml = WriteEml(in);
        const EmlHeaders ours = ReadEmlHeaders(eml);
        const auto theirs = edbtest::ReadWithGmime(eml);
        ASSERT_TRUE(theirs.has_value());
        EXPECT_EQ(ours.subject, theirs->subject) << eml;
        EXPECT_EQ(ours.from, theirs->from) << eml;
        EXPECT_EQ(ours.to, theirs->to) << eml;
        EXPECT_EQ(ours.date, "Thu, 13 Feb 2003 09:55:06 +0000");
        EXPECT_EQ(MessageTime(eml, 0), theirs->date);
    }
}

TEST(MimeReading, HeadersOfOtherWritersAreDecodedToo) {
    const std::string eml = "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?= =?UTF-8?B?IOKAlA==?=\r\n"
                            "  und mehr\r\n"
                            "From: \"Doe, Jane\" <jane@example.org> (work)\r\n"
                            "To: Undisclosed recipients: ;\r\n"
                            "Date: Thu, 13 Feb 03 04:55:06 EST\r\n"
                            "\r\n"
                            "Subject: not a header\r\n";
    const EmlHeaders h = ReadEmlHeaders(eml);
    EXPECT_EQ(h.subject, "Grüße \xE2\x80\x94  und mehr"); // unfolding keeps both blanks
    EXPECT_EQ(h.from, "\"Doe, Jane\" <jane@example.org>");
    EXPECT_EQ(h.to, "Undisclosed recipients");
    EXPECT_EQ(MessageTime(eml, 0), 1045130106);
    // No Date: the store's own time; a broken one as well.
    EXPECT_EQ(MessageTime("Subject: x\r\n\r\n", 0x01c2d345fc5db900ULL), 1045130106);
    EXPECT_EQ(MessageTime("Date: soon\r\n\r\n", 0x01c2d345fc5db900ULL), 1045130106);
    EXPECT_TRUE(ReadEmlHeaders("").from.empty());
}

} // namespace
