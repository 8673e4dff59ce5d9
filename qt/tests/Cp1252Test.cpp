#include <gtest/gtest.h>

#include <string>

#include "qt/Cp1252.h"

namespace {

using qtui::fromCp1252;
using qtui::toCp1252;

TEST(Cp1252, EveryByteButNulSurvivesTheRoundTrip) {
    for (int byte = 1; byte < 256; ++byte) {
        const std::string text(1, static_cast<char>(byte));
        const QString decoded = fromCp1252(text);
        ASSERT_EQ(decoded.size(), 1) << "byte " << byte;
        EXPECT_EQ(toCp1252(decoded), text) << "byte " << byte;
    }
}

struct Mapping {
    unsigned char byte;
    char16_t unit;
};

TEST(Cp1252, MapsTheWindowsCharactersBothWays) {
    const Mapping mappings[] = {
        {0xB0, u'\u00B0'},  // degree sign, the one in use
        {0x80, u'\u20AC'},  // euro sign
        {0x85, u'\u2026'},  // ellipsis
        {0x93, u'\u201C'},  // left double quotation mark
        {0x9F, u'\u0178'},  // Y with diaeresis, the last of the block
        {0x81, u'\u0081'},  // undefined in the code page: the C1 control of that value
        {0x9D, u'\u009D'}, {0xA0, u'\u00A0'}, {0xFF, u'\u00FF'}, {0x41, u'A'},
    };
    for (const Mapping& m : mappings) {
        const std::string text(1, static_cast<char>(m.byte));
        EXPECT_EQ(fromCp1252(text), QString(QChar(m.unit))) << int{m.byte};
        EXPECT_EQ(toCp1252(QString(QChar(m.unit))), text) << int{m.byte};
    }
}

TEST(Cp1252, CharactersItCannotHoldBecomeOneQuestionMarkEach) {
    struct Case {
        QString input;
        std::string expected;
    };
    const Case cases[] = {
        {QString::fromUtf8("12\u0101"), "12?"},        // a-macron, Latin Extended-A
        {QString::fromUtf8("\u20AC\u20AD"), "\x80?"},  // euro fits, kip does not
        {QString::fromUtf8("5\U0001F50B"), "5?"},      // a surrogate pair is one character
        {QString::fromUtf8("\u6E29\u5EA6"), "??"},     // CJK
        {QString(QChar(0x0080)), "?"},                 // C1 control the code page maps away
        {QStringLiteral("1") + QChar(0) + QStringLiteral("2"), "1?2"},
        {QString(QChar(0xD800)), "?"},  // a lone surrogate
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toCp1252(c.input), c.expected) << c.input.toStdString();
    }
}

TEST(Cp1252, TextEndsAtTheFirstNul) {
    EXPECT_EQ(fromCp1252(std::string("ab\0cd", 5)), QStringLiteral("ab"));
    EXPECT_EQ(fromCp1252(std::string()), QString());
    EXPECT_EQ(fromCp1252("[\xB0"
                         "C]"),
              QString::fromUtf8("[\u00B0C]"));
}

}  // namespace
