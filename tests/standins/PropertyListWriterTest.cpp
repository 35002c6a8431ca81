#include "PropertyListWriter.h"
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <climits>

using namespace standins;
using namespace standins::testing;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(PropertyListWriter, RoundTripsThroughTheApplicationsParserAndReplacesWhatXmlCannotCarry)
{
    // Invalid UTF-8, C0 controls, U+FFFE and U+FFFF are not allowed in XML 1.0; tab, line feed
    // and carriage return are, and must come back unchanged.
    EXPECT_EQ(xmlText("a\x01" "b\x1F" "c\x7F"), "a" + fffd + "b" + fffd + "c\x7F");
    EXPECT_EQ(xmlText("x\xEF\xBF\xBEy\xEF\xBF\xBFz\xEF\xBF\xBD"), "x" + fffd + "y" + fffd + "z" + fffd);

    PropertyListWriter plist;
    plist.beginDict();
    plist.stringEntry("Name", "Tom & Jerry <\"Backup\"> 'x' \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\nline2\r\n\ttab\x01\xFF");
    plist.integerEntry("Min", INT64_MIN);
    plist.integerEntry("Max", INT64_MAX);
    plist.booleanEntry("Yes", true);
    plist.booleanEntry("No", false);
    plist.stringEntry("Key <&>\x02", "v");
    plist.key("List");
    plist.beginArray();
    plist.beginDict();
    plist.stringEntry("Empty", "");
    plist.endDict();
    plist.endArray();
    plist.endDict();
    const std::string xml = plist.finish();
    ASSERT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u);
    EXPECT_EQ(plistText(xml), "{Name=Tom & Jerry <\"Backup\"> 'x' \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\nline2\r\n\ttab" + fffd
                                  + fffd + ", Min=-9223372036854775808, Max=9223372036854775807, Yes=true, No=false, Key <&>"
                                  + fffd + "=v, List=[{Empty=}]}");
}

} // namespace
