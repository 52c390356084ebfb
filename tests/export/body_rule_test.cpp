// The body rule on values built by hand: what counts as text (UTF-16 told from its bytes,
// binary refused, a few stray controls dropped), what counts as HTML, the visible text of
// broken mail HTML, attachment charsets, and which of two cut bodies is shown.
#include "content/body_rule.h"
#include "content/html_text.h"
#include "tests/support/lzfu_writer.h"

#include <gtest/gtest.h>

namespace {
using namespace edb::conv;

std::string utf16(std::u16string_view s, bool bigEndian) {
    std::string out;
    for (const char16_t u : s) {
        const auto hi = static_cast<char>(u >> 8);
        const auto lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

std::string asString(const std::vector<std::uint8_t>& b) {
    return {b.begin(), b.end()};
}

TEST(BodyRule, TextIsToldFromItsBytes) {
    // UTF-16 without a byte-order mark, Latin and Cyrillic; its last zero byte trimmed away.
    EXPECT_EQ(DecodeText(utf16(u"copy that", false), 1252, false), "copy that");
    EXPECT_EQ(DecodeText(utf16(u"Привет, мир", false), 1252, false), "Привет, мир");
    EXPECT_EQ(DecodeText("\xFE\xFF" + utf16(u"Grüße", true), 1252, false), "Grüße");
    EXPECT_EQ(DecodeText(utf16(u"big end", true), 1252, false), "big end");
    // The stated code page; UTF-8 only where allowed.
    EXPECT_EQ(DecodeText("\xCF\xF0\xE8", 1251, false), "При");
    EXPECT_EQ(DecodeText("caf\xC3\xA9", 1252, true), "café");
    EXPECT_EQ(DecodeText("caf\xC3\xA9", 1252, false), "cafÃ©");
    // A few stray control bytes in a long text are dropped, not shown.
    std::string text(200, 'a');
    text[50] = '\0';
    text[120] = '\x07';
    EXPECT_EQ(DecodeText(text, 1252, false), std::string(198, 'a'));
    // A zeroed hole in a text leaves it text.
    const std::string words = "Some words before the hole in this text, ";
    EXPECT_EQ(DecodeText(words + std::string(300, '\0') + "and more after.", 1252, false),
              words + "and more after.");

    // Not text: zero bytes with noise, compressed bytes, a value of only white space.
    std::string zeros(1000, '\0');
    EXPECT_EQ(DecodeText(zeros + "\x8f\x01\x02", 1252, false), std::nullopt);
    EXPECT_EQ(DecodeText("\x01" + zeros + "abc", 1252, false), std::nullopt);
    std::string noise;
    for (int i = 0; i < 400; ++i) {
        noise.push_back(static_cast<char>((i * 73 + 11) % 251));
    }
    EXPECT_EQ(DecodeText(noise, 1252, true), std::nullopt);
    EXPECT_EQ(
        DecodeText(asString(edbtest::lzfuLiteralStream("{\\rtf1 plain words here}")), 1252, true),
        std::nullopt);
    EXPECT_EQ(DecodeText(" \r\n\t", 1252, false), std::nullopt);
}

TEST(BodyRule, HtmlOnlyWhenItIsHtml) {
    EXPECT_TRUE(RealHtml("<P ALIGN=left>Hi</P>"));
    EXPECT_TRUE(RealHtml("<!DOCTYPE html><html><body>x</body></html>"));
    const std::string longer = "<p>a paragraph long enough for one stray control byte</p>";
    EXPECT_EQ(RealHtml("\x01" + longer), longer);
    // Angle brackets that are no markup, RTF holding tags, a compressed stream holding tags.
    EXPECT_FALSE(RealHtml("Dear <John>, 3 < 4 and 5 > 2"));
    EXPECT_FALSE(RealHtml("  {\\rtf1 {\\*\\htmltag <p>} text}"));
    EXPECT_FALSE(RealHtml(asString(edbtest::lzfuLiteralStream(
        "{\\rtf1\\fromhtml1 {\\*\\htmltag19 <html>}{\\*\\htmltag64 <p>}Hello there}"))));
}

TEST(BodyRule, VisibleTextOfMailHtml) {
    EXPECT_EQ(HtmlVisibleText("<html><head><title>T</title><style>p{x:1}</style></head><body>"
                              "<!-- note --><p>One&nbsp;&amp;&#233;&#x20AC;</p><p>&nbsp;</p>"
                              "<div>Two\r\n   words</div>a<br>b<ul><li>x</li></ul></body>"),
              "One &é€\n\nTwo words\na\nb\n- x");
    // A quoted '>' stays in its tag; a '<' that opens no tag is text; an unknown entity stays.
    EXPECT_EQ(HtmlVisibleText("<a title=\"a>b\">link</a> 3 < 4 &bogus; &#0;"),
              "link 3 < 4 &bogus; &#0;");
    // A style block that never closes is read as text, not allowed to swallow the message.
    EXPECT_EQ(HtmlVisibleText("<style>p{}<p>Body text"), "p{}\nBody text");
    EXPECT_EQ(HtmlVisibleText("text then <b"), "text then");
}

TEST(BodyRule, TextAttachmentsGetTheirCharset) {
    const auto charset = [](std::string_view s) {
        return TextCharset(std::vector<std::uint8_t>(s.begin(), s.end()));
    };
    EXPECT_EQ(charset("plain\r\n"), "us-ascii");
    EXPECT_EQ(charset(""), "us-ascii");
    EXPECT_EQ(charset("Gr\xC3\xBC\xC3\x9F"
                      "e"),
              "utf-8");
    EXPECT_EQ(charset("\xFF\xFE" + utf16(u"Grüße", false)), "utf-16");
    EXPECT_EQ(charset(utf16(u"Grüße aus Köln", false)), "utf-16le");
    EXPECT_EQ(charset("Gr\xFC\xDF"
                      "e"),
              ""); // 8-bit in a code page nobody names
    EXPECT_EQ(charset(std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0", 16)), "");

    EmlAttachment a;
    a.bytes = {'G', 'r', 0xFC, 'e'};
    SetAttachmentType(a, "text/plain");
    EXPECT_EQ(a.type, "application/octet-stream");
    a.bytes = {'h', 'i'};
    SetAttachmentType(a, "image/png");
    EXPECT_EQ(a.type, "image/png");
    EXPECT_EQ(a.charset, "");
}

TEST(BodyRule, AWholeBodyIsShownBeforeACutOne) {
    TextBody plain;
    plain.found = true;
    plain.raw = "The plain text, cut";
    plain.note = "long value stops at byte 4014 (chunk missing)";
    FormattedBody html;
    html.raw = "<html><body><p>Whole HTML</p></body></html>";
    auto chosen = ChooseBodies(plain, html, "in long value 0x401", "at 0x2000");
    EXPECT_EQ(chosen.plainText, "Whole HTML");
    EXPECT_TRUE(chosen.html);
    ASSERT_EQ(chosen.attachments.size(), 1U);
    EXPECT_EQ(chosen.attachments[0].name, "plain body (incomplete).txt");
    EXPECT_EQ(chosen.attachments[0].charset, "utf-8");

    // Both cut: the one that kept more text is shown, the other goes along.
    html.note = "formatted body cut at its page end";
    chosen = ChooseBodies(plain, html, "", "");
    EXPECT_EQ(chosen.plainText, "The plain text, cut");
    EXPECT_FALSE(chosen.html);
    ASSERT_EQ(chosen.attachments.size(), 1U);
    EXPECT_EQ(chosen.attachments[0].type, "text/html");

    // A plain value that is no text is attached, named with its place, and said so.
    plain.raw = std::string(600, '\0') + "\x01\x02";
    plain.note.clear();
    html.note.clear();
    chosen = ChooseBodies(plain, html, "at 0x1006", "at 0x2000");
    EXPECT_EQ(chosen.plainText, "Whole HTML");
    ASSERT_EQ(chosen.attachments.size(), 1U);
    EXPECT_EQ(chosen.attachments[0].name, "plain body at 0x1006.bin");
    EXPECT_EQ(chosen.attachments[0].type, "application/octet-stream");
    EXPECT_EQ(chosen.attachments[0].bytes.size(), 602U);
    EXPECT_EQ(chosen.unreadable.size(), 1U);
}

} // namespace
