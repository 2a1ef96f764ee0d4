#include "installer/display_text.h"
#include "installer/setup_failure.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

namespace corvanel {
namespace {

namespace fs = std::filesystem;

TEST(DisplayText, ControlCharactersAndStrayBytesAreShownAsEscapes)
{
    const struct {
        const char* name;
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain text and UTF-8 pass", "Extracting café · 3 MB unpacked", "Extracting café · 3 MB unpacked"},
        {"a screen-clearing, title-setting name", "evil\x1b[2J\x1b]0;pwned\a.zip", "evil\\e[2J\\e]0;pwned\\x07.zip"},
        {"line breaks and tabs", "one\ntwo\r\tthree", "one\\ntwo\\r\\tthree"},
        {"the backslash itself, so escapes read back unambiguously", "a\\nb", "a\\\\nb"},
        {"DEL and NUL", std::string("x\x7fy\0z", 5), "x\\x7fy\\x00z"},
        {"a C1 control, which some terminals obey as CSI",
         "a\xc2\x9b"
         "2Jb",
         "a\\xc2\\x9b2Jb"},
        {"a character just past the C1 range", "\xc2\xa0", "\xc2\xa0"},
        {"a Latin-1 byte of a code-page name",
         "\x9a"
         "ber.txt",
         "\\x9aber.txt"},
        {"a character cut short", "ab\xe2\x80", "ab\\xe2\\x80"},
        {"an over-long encoding of a slash", "\xc0\xaf", "\\xc0\\xaf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printable(c.text), c.shown);
    }
}

TEST(DisplayText, LongPathsKeepTheirHeadAndTail)
{
    const fs::path deep = "/home/user/" + std::string(4000, 'd') + "/maps/shared.map";
    const std::string shown = shownPath(deep);
    EXPECT_LE(shown.size(), 120u);
    EXPECT_TRUE(shown.starts_with("/home/user/ddd")) << shown;
    EXPECT_TRUE(shown.ends_with("ddd/maps/shared.map")) << shown;
    EXPECT_NE(shown.find("…"), std::string::npos);
    EXPECT_EQ(shownPath("/short/path"), "/short/path");

    // Never half a character: a path of two-byte letters cut anywhere stays well-formed.
    const std::string letters = [] {
        std::string text = "/";
        for (int i = 0; i < 200; ++i)
            text += "é";
        return text;
    }();
    EXPECT_EQ(printable(shownPath(letters)).find("\\x"), std::string::npos);
}

TEST(DisplayText, FileSystemErrorsNameShortenedPaths)
{
    const fs::path deep = "/home/user/" + std::string(4000, 'd') + "/maps/shared.map";
    const fs::path other = "/root/Install/" + std::string(4000, 'e') + "/shared.map";
    const struct {
        const char* name;
        fs::filesystem_error error;
    } cases[] = {
        {"one path", fs::filesystem_error("Unable to read", deep, std::make_error_code(std::errc::filename_too_long))},
        {"two paths",
         fs::filesystem_error("Unable to copy", deep, other, std::make_error_code(std::errc::filename_too_long))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = describe(c.error);
        EXPECT_LT(message.size(), 300u) << message;
        EXPECT_TRUE(message.ends_with("/maps/shared.map: File name too long.")
                    || message.ends_with("/shared.map: File name too long."))
            << message;
        EXPECT_NE(message.find(shownPath(deep)), std::string::npos) << message;
    }
}

// What a program prints must be UTF-8 to be used as text; a malformed byte is never taken for a
// character, whichever way it is malformed.
TEST(DisplayText, OnlyWellFormedUtf8IsValid)
{
    const struct {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
        {"nothing", "", true},
        {"ASCII with controls", "a\tb\n\x01", true},
        {"two, three and four bytes", "caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x98\x80", true},
        {"the highest character", "\xf4\x8f\xbf\xbf", true},
        {"a lone continuation byte", "\x80", false},
        {"a character cut short at the end", "caf\xc3", false},
        {"a lead byte before ASCII", "\xe2\x80x", false},
        {"an overlong slash", "\xc0\xaf", false},
        {"a surrogate", "\xed\xa0\x80", false},
        {"beyond the highest character", "\xf4\x90\x80\x80", false},
        {"a byte never used", "\xff", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidUtf8(c.text), c.valid);
    }
}

} // namespace
} // namespace corvanel
