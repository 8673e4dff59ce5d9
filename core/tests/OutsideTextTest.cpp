#include <gtest/gtest.h>

#include <string>

#include "core/texts/OutsideText.h"

namespace {

TEST(OutsideText, ControlBytesAndBrokenUtf8AreEscapedTheRestKept) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"ostrelctl", "ostrelctl"},
        {"\x1b[2J", "\\x1b[2J"},
        {"a\nostrelctl: ok", "a\\x0aostrelctl: ok"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"del\x7f", "del\\x7f"},
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},  // C1 CSI in UTF-8
        {"caf\xc3\xa9 \xc2\xb0"
         "C",
         "caf\xc3\xa9 \xc2\xb0"
         "C"},
        {"\xe2\x82\xac \xf0\x9f\x94\x8c", "\xe2\x82\xac \xf0\x9f\x94\x8c"},
        {"\xe9.json", "\\xe9.json"},          // Latin-1, not UTF-8
        {"\xc0\xaf", "\\xc0\\xaf"},           // overlong '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate
        {"\xe2\x82", "\\xe2\\x82"},           // cut short
        {"C:\\Users\\a b", "C:\\Users\\a b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeControls(c.in), c.out) << c.out;
    }
}

TEST(OutsideText, HolderNamesProgramAndPidAsTheSystemTellsThem) {
    EXPECT_EQ(holderText({"ostrelctl", 4711}), "ostrelctl (pid 4711)");
    EXPECT_EQ(holderText({"", 12}), "another program (pid 12)");
    EXPECT_EQ(holderText({"", 0}), "another program");
    EXPECT_EQ(holderText({"\x1b[2J", 0}), "\\x1b[2J");
}

}  // namespace
