#include "components/cdrip/cddb/file_name_template.h"

#include <gtest/gtest.h>

namespace kiv::cddb {
namespace {

const Record& BandRecord() {
    static const Record r = ParseRecord(
        "DISCID=0c025803\nDTITLE=The Band / The Album\nDYEAR=1999\nDGENRE=Rock\n"
        "TTITLE0=Intro\nTTITLE1=Why? Because: <yes> \"no\" |*\nTTITLE3=A long\nTTITLE3= title\n");
    return r;
}

TEST(CddbFileNameTemplateTest, Expansion) {
    struct Case {
        const char* pattern;
        int track;
        const char* expected;
    };
    const Case cases[] = {
        {"%1 - %3 - %6 - %2", 0, "The Band - The Album - 01 - Intro"},
        {"%1/%3/%6 %2", 0, "The Band/The Album/01 Intro"},
        {"%4 %5 %7", 0, "1999 Rock 0c025803"},
        {"%2", 3, "A long title"},
        {"%2", 1, "Why_ Because_ _yes_ _no_ __"},
        {"%6", 9, "10"},
        {"%2", 5, ""},
        {"100%%", 0, "100%"},
        {"%9", 0, "%9"},
        {"%a%", 0, "%a%"},
        {"a:b", 0, "a_b"},
        {"%%1", 0, "%1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(ExpandFileNameTemplate(c.pattern, BandRecord(), c.track), c.expected);
    }
}

// Values from a server can name a file inside the destination folder and
// nothing else; the template's own separators still make folders.
TEST(CddbFileNameTemplateTest, HostileValuesStayInsideTheFolder) {
    struct Case {
        const char* title;
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {
        {"../x", "%1/%2", "The Band/.._x"},
        {"../../etc/passwd", "%2", ".._.._etc_passwd"},
        {"a/b", "%1/%2", "The Band/a_b"},
        {"/abs", "%2", "_abs"},
        {".", "%1/%2", "The Band/_"},
        {"..", "%1/%2", "The Band/__"},
        {"..", "%2/%6", "__/01"},
        {"..", "x%2", "x.."},
        {"tab\\there\\nnew\x01line\x7f", "%2", "tab_here_new_line_"},
        {"", "%2/%6", "01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const Record r = ParseRecord(std::string("DTITLE=The Band / The Album\nTTITLE0=") + c.title + "\n");
        EXPECT_EQ(ExpandFileNameTemplate(c.pattern, r, 0), c.expected);
    }
}

TEST(CddbFileNameTemplateTest, PathComponentsOfTheTemplateAreNeutralisedToo) {
    const Record r = ParseRecord("DTITLE=A / B\nTTITLE0=T\n");
    EXPECT_EQ(ExpandFileNameTemplate("../%2", r, 0), "__/T");
    EXPECT_EQ(ExpandFileNameTemplate("/music/./%2", r, 0), "music/_/T");
    // An empty artist must not turn "%1/%2" into an absolute name.
    EXPECT_EQ(ExpandFileNameTemplate("%1/%2", ParseRecord("TTITLE0=T\n"), 0), "T");
}

TEST(CddbFileNameTemplateTest, Utf16Interface) {
    const Record r = ParseRecord("DTITLE=Μπάντα / Δίσκος\nTTITLE0=Τραγούδι?\n");
    EXPECT_EQ(ExpandFileNameTemplate(std::u16string_view(u"%1/%6 %2"), r, 0), u"Μπάντα/01 Τραγούδι_");
}

}  // namespace
}  // namespace kiv::cddb
