// The MIME writer against GMime: the same body encodings byte for byte on random texts, and
// what GMime's parser reads back from written messages (names, attachment bytes, dates).
#include "charset/charset.h"
#include "mime/content_types.h"
#include "mime/eml_writer.h"
#include "charset/header_chars.h"
#include "mime/mail_date.h"
#include "mime/mime_body.h"
#include "tests/export/gmime_reader.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <random>

namespace {
using namespace edb::conv;

// GMime's own text part for `lf` (best encoding under the 7-bit rule), written with CR LF.
std::string gmimeTextPart(const std::string& lf) {
    (void)edbtest::ReadWithGmime("From: a@b\r\n\r\n"); // GMime set up once
    GMimePart* part = GMIME_PART(g_mime_text_part_new_with_subtype("plain"));
    GMimeStream* stream = g_mime_stream_mem_new();
    if (!lf.empty()) {
        g_mime_stream_write(stream, lf.data(), lf.size());
        g_mime_stream_reset(stream);
    }
    GMimeDataWrapper* w =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, w);
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "utf-8");
    g_mime_part_set_content_encoding(
        part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(part), options, out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    std::string result(reinterpret_cast<const char*>(bytes->data), bytes->len);
    g_object_unref(out);
    g_mime_format_options_free(options);
    g_object_unref(w);
    g_object_unref(stream);
    g_object_unref(part);
    return result;
}

std::string ourTextPart(const std::string& lf) {
    const TextEncoding e = ChooseTextEncoding(lf);
    std::string out = "Content-Type: text/plain; charset=utf-8\r\n";
    if (!EncodingName(e).empty()) {
        out += "Content-Transfer-Encoding: " + std::string(EncodingName(e)) + "\r\n";
    }
    out += "\r\n";
    AppendEncoded(out, lf, e);
    return out;
}

// Texts that reach every rule: words, blanks before line ends and at the very end, "From "
// lines, '=' signs, 8-bit bytes from rare to dense, NULs, lines around 76 and past 998.
std::string randomText(std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 99);
    const int eightBitShare = pick(rng) % 4 == 0 ? pick(rng) / 2 : pick(rng) % 3;
    const bool nul = pick(rng) < 3;
    const bool longLines = pick(rng) < 10;
    const std::size_t size = static_cast<std::size_t>(pick(rng)) * (longLines ? 30 : 4);
    std::string s;
    while (s.size() < size) {
        const int r = pick(rng);
        if (r < eightBitShare) {
            s += "\xC3\xA9";
        } else if (r < 60) {
            s += "word";
        } else if (r < 72) {
            s += ' ';
        } else if (r < 76) {
            s += '\t';
        } else if (r < 84 && !longLines) {
            s += '\n';
        } else if (r < 85) {
            s += "\nFrom ";
        } else if (r < 86) {
            s += ">>From ";
        } else if (r < 87) {
            s += "From ";
        } else if (r < 90) {
            s += '=';
        } else if (r < 92 && nul) {
            s += '\0';
        } else {
            s += static_cast<char>('a' + r % 26);
        }
    }
    return s;
}

// A line of the part that an mbox would quote: "From " after any number of '>'.
bool hasMboxQuotedLine(const std::string& part) {
    for (std::size_t at = 0; at < part.size();) {
        std::size_t text = at;
        while (text < part.size() && part[text] == '>') {
            ++text;
        }
        if (part.compare(text, 5, "From ") == 0) {
            return true;
        }
        const std::size_t end = part.find('\n', at);
        at = end == std::string::npos ? part.size() : end + 1;
    }
    return false;
}

// Byte for byte what GMime writes, except where GMime leaves a line an mbox would quote: there
// the line is armoured (no ">From " reaches an mbox), and GMime decodes it to the same text.
TEST(MimeWriter, TextBodiesAreEncodedAsGmimeEncodesThem) {
    std::mt19937 rng(7);
    int kinds[3] = {0, 0, 0};
    int armoured = 0;
    const auto check = [&armoured](const std::string& text) {
        const std::string ours = ourTextPart(text);
        const std::string theirs = gmimeTextPart(text);
        if (!hasMboxQuotedLine(theirs)) {
            EXPECT_EQ(ours, theirs) << "text: " << testing::PrintToString(text);
            return;
        }
        ++armoured;
        EXPECT_FALSE(hasMboxQuotedLine(ours)) << ours;
        EXPECT_NE(ours.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
        // Lines within 76 characters, or within what GMime writes plus the two characters the
        // armour adds (both let a line that ends in a blank reach 77 with its "=20").
        const auto longest = [](const std::string& part) {
            std::size_t most = 0;
            for (std::size_t at = 0, end; at < part.size(); at = end + 2) {
                end = std::min(part.find("\r\n", at), part.size());
                most = std::max(most, end - at);
            }
            return most;
        };
        EXPECT_LE(longest(ours), std::max<std::size_t>(76, longest(theirs) + 2)) << ours;
        const auto read = edbtest::ReadWithGmime("From: a@b\r\nMIME-Version: 1.0\r\n" + ours);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(edbtest::Lf(read->leaves.at(0).body), text);
    };
    for (int i = 0; i < 4000; ++i) {
        const std::string text = randomText(rng);
        ++kinds[static_cast<int>(ChooseTextEncoding(text))];
        check(text);
        if (testing::Test::HasFailure()) {
            return;
        }
    }
    // Every encoding was reached, and lines an mbox would quote, also after a soft break.
    EXPECT_GT(kinds[0], 100);
    EXPECT_GT(kinds[1], 100);
    EXPECT_GT(kinds[2], 100);
    EXPECT_GT(armoured, 100);
    for (const std::string& text : std::vector<std::string>{
             "", "\n", " ", "x ", "x\t\n", "From me\n", ">From me\n", ">>From\n",
             "x\n>>From me\n", std::string(999, 'x'), std::string(75, 'x') + "From x",
             std::string(76, 'x') + ">From x", std::string(998, 'x'), "a\xC3\xA9 ",
             std::string(75, 'x') + " \n"}) {
        check(text);
    }
}

TEST(MimeWriter, AttachmentsReadBackWithTheirBytesNamesAndLineLimits) {
    std::mt19937 rng(3);
    EmlInput in;
    in.from = {"Ann", "ann@example.org"};
    in.subject = "Attachments";
    in.plainText = "See the files.";
    const std::vector<std::string> names = {"report.pdf",
                                            "Отчёт за квартал.docx",
                                            "a\"quoted\";name.txt",
                                            "=?utf-8?B?eA==?=.txt",
                                            "back\\slash.bin",
                                            std::string(120, 'x') + "\xE6\x97\xA5\xE6\x9C\xAC.zip",
                                            "",
                                            "ctl\x01\x7f.dat"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::vector<std::uint8_t> bytes(i * 37 + (i == 6 ? 0 : 1));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(rng());
        }
        in.attachments.push_back({names[i], bytes, "", ""});
    }
    const std::string eml = WriteEml(in);
    // Lines within 998 everywhere, base64 lines within 76.
    for (std::size_t at = 0, end; at < eml.size(); at = end + 2) {
        end = eml.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - at, 998U);
        EXPECT_EQ(eml.substr(at, end - at).find('\n'), std::string::npos) << "bare LF";
    }
    const auto m = edbtest::ReadWithGmime(eml);
    ASSERT_TRUE(m.has_value());
    ASSERT_EQ(m->leaves.size(), names.size() + 1);
    EXPECT_EQ(m->leaves[0].body, "See the files.");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const edbtest::GmimePart& p = m->leaves[i + 1];
        const auto& bytes = in.attachments[i].bytes;
        EXPECT_EQ(p.body, std::string(bytes.begin(), bytes.end())) << names[i];
        EXPECT_EQ(p.filename, CleanAttachmentName(names[i])) << names[i];
        // The Content-Type name older readers take decodes to the same name.
        EXPECT_EQ(p.name, p.filename) << names[i];
        EXPECT_EQ(p.encoding, "base64");
    }
    // An ASCII name with specials comes as a plain quoted name in Content-Type for older
    // readers, and as one filename parameter (RFC 2231 alone) in Content-Disposition.
    EXPECT_NE(eml.find("; name=\"a\\\"quoted\\\";name.txt\"\r\n"), std::string::npos) << eml;
    EXPECT_NE(eml.find("attachment; filename*=UTF-8''a%22quoted%22%3Bname.txt\r\n"),
              std::string::npos)
        << eml;
    EXPECT_EQ(eml.find("filename=\"a\\\"quoted"), std::string::npos) << eml;
    EXPECT_NE(eml.find("name=\"=?UTF-8?B?"), std::string::npos);
}

// Text whose ASCII characters are not single ASCII bytes (UTF-16, UTF-32) is no text part:
// readers would convert its line ends or show it inline as bytes. It goes as
// application/octet-stream with its name and its bytes as they are; ASCII-compatible text
// keeps its type and charset.
TEST(MimeWriter, WideTextAttachmentsGoAsBytes) {
    EmlInput in;
    in.from = {"Ann", "ann@example.org"};
    in.subject = "Wide text";
    in.plainText = "See the files.";
    const std::string utf16 = std::string("\xFF\xFEH\0i\0\r\0\n\0", 10);
    const std::string utf32 = std::string("H\0\0\0\n\0\0\0", 8);
    const std::string latin = "caf\xC3\xA9\r\n";
    const struct {
        std::string name, bytes, charset, type, shownCharset;
    } cases[] = {
        {"notes.txt", utf16, "utf-16", "application/octet-stream", ""},
        {"page.html", utf16, "UTF-16LE", "application/octet-stream", ""},
        {"be.txt", utf16, "utf-16be", "application/octet-stream", ""},
        {"wide.txt", utf32, "utf-32", "application/octet-stream", ""},
        {"ok.txt", latin, "utf-8", "text/plain", "utf-8"},
    };
    for (const auto& c : cases) {
        in.attachments.push_back(
            {c.name, std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()), "", c.charset});
        in.attachments.back().type = GuessContentType(c.name, in.attachments.back().bytes);
    }
    const auto m = edbtest::ReadWithGmime(WriteEml(in));
    ASSERT_TRUE(m.has_value());
    ASSERT_EQ(m->leaves.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const edbtest::GmimePart& p = m->leaves[i + 1];
        EXPECT_EQ(p.type, cases[i].type) << cases[i].name;
        EXPECT_EQ(p.charset, cases[i].shownCharset) << cases[i].name;
        EXPECT_EQ(p.filename, cases[i].name);
        EXPECT_EQ(p.body, cases[i].bytes) << cases[i].name;
    }
}

TEST(MimeWriter, ContentTypesFromExtensionThenSignature) {
    const auto bytes = [](std::string_view s) {
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"a.PDF", "hello", "application/pdf"},
        {"a.doc", "PK\x03\x04", "application/msword"},
        {"a.docx", "", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"a.xls", "", "application/vnd.ms-excel"},
        {"a.ppt", "", "application/vnd.ms-powerpoint"},
        {"a.txt", "\x89PNG\r\n\x1A\n", "text/plain"},
        {"x.tar.gz", "", "application/x-compressed-tar"},
        {"noext", "%PDF-1.4", "application/pdf"},
        {"noext", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), "application/x-ole-storage"},
        {"mail.msg", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8),
         "application/x-ole-storage"},
        {"noext", "PK\x03\x04", "application/zip"},
        {"a.bin", "\x89PNG\r\n\x1A\n", "image/png"},
        {"noext", "\xFF\xD8\xFF\xE0", "image/jpeg"},
        {"noext", "GIF89a", "image/gif"},
        {"noext", "{\\rtf1", "application/rtf"},
        {"noext", "<HTML><body>", "text/html"},
        {"noext", "plain words\r\n", "text/plain"},
        {"noext", "h\xC3\xA9llo", "application/octet-stream"},
        {"noext", "", "application/octet-stream"},
        {"a.", "x\x01y", "application/octet-stream"},
    };
    for (const auto& [name, head, type] : rows) {
        EXPECT_EQ(GuessContentType(name, bytes(head)), type) << name << " " << head;
    }
}

TEST(MimeWriter, DatesFormatAsGmimeDoesAndParseBack) {
    (void)edbtest::ReadWithGmime("From: a@b\r\n\r\n");
    std::mt19937_64 rng(11);
    for (int i = 0; i < 2000; ++i) {
        const auto secs = static_cast<std::int64_t>(rng() % 4102444800ULL);
        GDateTime* dt = g_date_time_new_from_unix_utc(secs);
        char* theirs = g_mime_utils_header_format_date(dt);
        g_date_time_unref(dt);
        const std::string ours = FormatMailDate(secs);
        EXPECT_EQ(ours, theirs);
        g_free(theirs);
        EXPECT_EQ(ParseMailDate(ours), secs) << ours;
    }
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> rows = {
        {"Thu, 13 Feb 2003 09:55:06 +0000", 1045130106},
        {"13 Feb 2003 09:55:06 +0100", 1045126506},
        {"Thu, 13 Feb 03 09:55 GMT", 1045130100},
        {"Thu, 13 Feb 2003 04:55:06 EST (comment)", 1045130106},
        {"Thu,13 Feb 2003 09:55:06 -0130", 1045135506},
        {"Mon, 1 Jan 1970 00:00:00 +0000", 0},
        {"31 Feb 2003 09:55:06 +0000", std::nullopt},
        {"Thu, 13 Foo 2003 09:55:06 +0000", std::nullopt},
        {"Thu, 13 Feb 2003 25:55:06 +0000", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, secs] : rows) {
        EXPECT_EQ(ParseMailDate(text), secs) << text;
    }
}

TEST(MimeWriter, Utf8ValidationAgreesWithGlib) {
    std::mt19937 rng(5);
    const std::string pieces[] = {
        "a",           "\xC3\xA9",     "\xE2\x82\xAC",     "\xF0\x9F\x98\x80",
        "\xC0\xAF",    "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80",
        "\xE2\x82",    "\0",           "\xEF\xBF\xBD",     "\xF8\x88\x80\x80\x80",
        "\xEF\xBF\xBE"};
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        for (int k = static_cast<int>(rng() % 6); k > 0; --k) {
            s += pieces[rng() % std::size(pieces)];
        }
        const bool glib =
            g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr) != FALSE;
        ASSERT_EQ(header::IsValidUtf8(s), glib) << testing::PrintToString(s);
    }
}

TEST(MimeWriter, SystemCodePagesConvertOrSayTheyCannot) {
    EXPECT_EQ(SystemCodePageToUtf8("\x82\xA0", 932), "\xE3\x81\x82"); // Shift-JIS あ
    EXPECT_EQ(SystemCodePageToUtf8("\xC4\xE3", 936), "\xE4\xBD\xA0"); // GBK 你
    EXPECT_EQ(SystemCodePageToUtf8("\xE1", 1253), "\xCE\xB1");        // Greek alpha
    EXPECT_EQ(SystemCodePageToUtf8("\x8A", 10000), "\xC3\xA4");       // Mac Roman ä
    EXPECT_EQ(SystemCodePageToUtf8(std::string(5000, '\xE1'), 1253)->size(), 10000U);
    EXPECT_FALSE(SystemCodePageToUtf8("\x82", 932).has_value());  // cut off in a character
    EXPECT_FALSE(SystemCodePageToUtf8("abc", 77777).has_value()); // no such code page
}

} // namespace
