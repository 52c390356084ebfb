// HTML and text carried inside RTF, and RTF that carries neither.
#include "rtf/rtf_text.h"

#include <gtest/gtest.h>

namespace {
using edb::conv::DeEncapsulateRtf;
using edb::conv::DetectRtfContent;
using edb::conv::RtfContent;

std::string html(std::string_view body) {
    return "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}"
           "{\\f1\\fnil\\fcharset204 Times;}}" +
           std::string(body) + "}";
}

TEST(RtfText, ContentIsTakenFromTheOpeningTokens) {
    EXPECT_EQ(DetectRtfContent("{\\rtf1\\ansi\\fromhtml1 \\deff0{\\fonttbl}}"), RtfContent::Html);
    EXPECT_EQ(DetectRtfContent("{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0}"), RtfContent::Text);
    EXPECT_EQ(DetectRtfContent("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}"), RtfContent::Rtf);
    // After the font table, or after text, the marker no longer counts.
    EXPECT_EQ(DetectRtfContent("{\\rtf1{\\fonttbl}\\fromhtml1}"), RtfContent::Rtf);
    EXPECT_EQ(DetectRtfContent("{\\rtf1 x\\fromhtml1}"), RtfContent::Rtf);
    // Past the tenth token it is too late.
    EXPECT_EQ(DetectRtfContent("{\\rtf1\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\fromhtml1}"),
              RtfContent::Rtf);
    EXPECT_EQ(DetectRtfContent("not rtf"), RtfContent::Rtf);
    EXPECT_EQ(DetectRtfContent(""), RtfContent::Rtf);

    const auto plain = DeEncapsulateRtf("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}");
    EXPECT_EQ(plain.content, RtfContent::Rtf);
    EXPECT_TRUE(plain.text.empty());
}

TEST(RtfText, HtmlTagsAndVisibleTextComeBackInOrder) {
    const auto r = DeEncapsulateRtf(
        html("{\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}\\htmlrtf {\\b\\htmlrtf0 Bold "
             "\\htmlrtf}\\htmlrtf0 text{\\*\\htmltag84 caf\\'e9}\\htmlrtf \\par\\htmlrtf0 "
             "{\\*\\htmltag64 <br>\\par}{\\*\\mhtmltag4 cid:x}{\\*\\htmltag4 \\{\\}\\\\\\tab}"
             "{\\*\\htmltag35 </body>}"));
    ASSERT_EQ(r.content, RtfContent::Html);
    EXPECT_EQ(r.text, "<html><body>Bold textcafé<br>\r\n{}\\\t</body>");
}

TEST(RtfText, HtmlRtfStateFollowsGroups) {
    // Suppression set inside a group ends with the group.
    const auto r = DeEncapsulateRtf(html("{\\htmlrtf hidden}shown{\\htmlrtf1 {nested hidden}}"
                                         "\\htmlrtf1 gone\\htmlrtf0 back"));
    EXPECT_EQ(r.text, "shownback");
}

TEST(RtfText, CodePagesUnicodeAndFallbacks) {
    // \'e0 under the Cyrillic font is U+0430; under the default code page it is U+00E0.
    auto r = DeEncapsulateRtf(html("{\\*\\htmltag84 \\f1 \\'e0\\f0 \\'e0}"));
    EXPECT_EQ(r.text, "аà");
    // \uN skips \ucN fallback characters; a \'hh counts as one; negative N wraps.
    r = DeEncapsulateRtf(html("{\\*\\htmltag84 \\u1055?x\\uc2\\u1088\\'3f\\'3fy\\u-4064 ?}"));
    EXPECT_EQ(r.text, "Пxрy\uF020");
    // A surrogate pair spelled as two \uN.
    r = DeEncapsulateRtf(html("{\\*\\htmltag84 \\u-10179?\\u-8690?}"));
    EXPECT_EQ(r.text, "\U0001F60E");
    // \ansicpg sets the code page of the bytes outside any font.
    r = DeEncapsulateRtf("{\\rtf1\\ansi\\ansicpg1251\\fromtext \\'cf\\'f0\\'e8\\par ok}");
    EXPECT_EQ(r.content, RtfContent::Text);
    EXPECT_EQ(r.text, "При\r\nok");
    // A code page other than the two built-in ones goes through the system converter.
    r = DeEncapsulateRtf("{\\rtf1\\ansi\\ansicpg1250\\fromtext \\'9a\\'e8}");
    EXPECT_EQ(r.text, "šč");
}

TEST(RtfText, DestinationsAndBinaryDataAreSkipped) {
    const auto r = DeEncapsulateRtf(
        "{\\rtf1\\ansi\\fromtext{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1;}"
        "{\\*\\generator Writer;}{\\stylesheet{\\s0 Normal;}}{\\pict\\bin4 }}}}}a\\~b\\-c}");
    EXPECT_EQ(r.text, "a\u00A0bc");
}

TEST(RtfText, HostileInputEndsQuietly) {
    std::string deep = "{\\rtf1\\fromtext ";
    deep += std::string(100000, '{');
    deep += "x";
    EXPECT_EQ(DeEncapsulateRtf(deep).text, "x");
    EXPECT_NO_THROW((void)DeEncapsulateRtf("{\\rtf1\\fromtext \\"));
    EXPECT_NO_THROW((void)DeEncapsulateRtf("{\\rtf1\\fromtext \\'4"));
    EXPECT_NO_THROW((void)DeEncapsulateRtf("{\\rtf1\\fromtext \\bin999999999 x"));
    EXPECT_NO_THROW((void)DeEncapsulateRtf("{\\rtf1\\fromtext \\u99999999999999999999 x}}}}"));
}

} // namespace
