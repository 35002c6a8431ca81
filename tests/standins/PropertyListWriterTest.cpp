#include "PropertyListWriter.h"
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

using namespace standins;
using namespace standins::testing;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

std::string sampleDocument(const std::string &nastyKey, const std::string &nastyValue)
{
    PropertyListWriter plist;
    plist.beginDict();
    plist.stringEntry("Name", nastyValue);
    plist.integerEntry("Min", INT64_MIN);
    plist.integerEntry("Max", INT64_MAX);
    plist.booleanEntry("Yes", true);
    plist.booleanEntry("No", false);
    plist.stringEntry(nastyKey, "v");
    plist.key("List");
    plist.beginArray();
    plist.beginDict();
    plist.stringEntry("Empty", "");
    plist.endDict();
    plist.endArray();
    plist.endDict();
    return plist.finish();
}

TEST(PropertyListWriter, RoundTripsThroughTheApplicationsParser)
{
    const std::string value = "Tom & Jerry <\"Backup\"> 'x' \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";
    const std::string xml = sampleDocument("Key <&>", value);
    ASSERT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u);

    const auto plist = Plist::parse(xml);
    ASSERT_TRUE(plist) << xml;
    EXPECT_EQ(Plist::keys(plist->root()), (std::vector<std::string>{"Name", "Min", "Max", "Yes", "No", "Key <&>", "List"}));
    EXPECT_EQ(Plist::string(plist->root(), "Name"), value);
    EXPECT_EQ(Plist::string(plist->root(), "Key <&>"), "v");
    EXPECT_EQ(Plist::integer(plist->root(), "Max"), INT64_MAX);
    EXPECT_EQ(Plist::integer(plist->root(), "Min"), INT64_MIN);
    EXPECT_EQ(Plist::boolean(plist->root(), "Yes"), true);
    EXPECT_EQ(Plist::boolean(plist->root(), "No"), false);
    const auto list = Plist::array(plist->root(), "List");
    ASSERT_TRUE(list && list->size() == 1);
    EXPECT_EQ(Plist::string(list->front(), "Empty"), "");
}

TEST(PropertyListWriter, TextThatXmlCannotCarryIsReplacedNotDropped)
{
    // Invalid UTF-8, C0 controls, U+FFFE and U+FFFF are not allowed in XML 1.0; tab, line feed
    // and carriage return are, and must come back unchanged.
    EXPECT_EQ(xmlText("a\x01" "b\x1F" "c\x7F"), "a" + fffd + "b" + fffd + "c\x7F");
    EXPECT_EQ(xmlText("x\xEF\xBF\xBEy\xEF\xBF\xBFz\xEF\xBF\xBD"), "x" + fffd + "y" + fffd + "z" + fffd);
    EXPECT_EQ(xmlText("bad \xFF label"), "bad " + fffd + " label");

    const std::string xml = sampleDocument("k\x02", "line1\nline2\r\n\ttab\x01\xFF");
    const auto plist = Plist::parse(xml);
    ASSERT_TRUE(plist) << xml;
    EXPECT_EQ(Plist::string(plist->root(), "Name"), "line1\nline2\r\n\ttab" + fffd + fffd);
    EXPECT_EQ(Plist::string(plist->root(), ("k" + fffd).c_str()), "v");

    // A strict XML parser (expat, through Python's plistlib) accepts it too.
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "python3 is not installed: strict XML check skipped";
    TempDir dir;
    writeFile(dir / "out.plist", xml);
    const auto check = runProgram({"/usr/bin/python3", "-c",
                                   "import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb'));"
                                   "assert d['Name'].startswith('line1\\nline2\\r\\n'), repr(d['Name'])",
                                   dir / "out.plist"});
    EXPECT_EQ(check.exitCode, 0) << check.standardError;
}

} // namespace
