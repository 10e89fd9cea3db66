// The nesting depth of a set file, judged before TinyXML reads it: only open
// elements count, and nothing that merely looks like a tag does.
#include <gtest/gtest.h>

#include <string>

#include "xml_depth.h"

namespace {

std::string Nested(int levels, const std::string& inner = "") {
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "<a>";
    text += inner;
    for (int i = 0; i < levels; ++i)
        text += "</a>";
    return text;
}

TEST(XmlDepth, CountsOnlyOpenElements) {
    struct Case {
        const char* what;
        std::string text;
        bool within;  // at most 3 levels
    };
    const Case cases[] = {
        {"a set file", "<?xml version=\"1.0\"?><T><Command CommandName=\"A\" Value=\"1\"/></T>",
         true},
        {"exactly the limit", Nested(3), true},
        {"one level more", Nested(4), false},
        {"siblings do not add up", "<T><a></a><a></a><a></a><a></a><a></a></T>", true},
        {"empty elements do not open", "<T><a/><a /><a x='1'/><a/><a/></T>", true},
        {"unclosed elements still count", "<a><a><a><a>", false},
        {"a cut last tag counts", "<a><a><a><a x=\"", false},
        {"tags in comments", "<T><!-- <a><a><a><a> --></T>", true},
        {"tags in CDATA", "<T><![CDATA[<a><a><a><a>]]></T>", true},
        {"'>' and '/>' in quoted values", "<T><a v=\"/>\"><b w='>'/></a></T>", true},
        {"a quoted '/>' does not close", Nested(3, "<a v=\"/>\">"), false},
        {"a declaration with an internal subset",
         "<!DOCTYPE T [<!ELEMENT T ANY><!ENTITY e \"<a><a><a><a>\">]><T/>", true},
        {"processing instructions", "<?pi <a><a><a><a> ?><T/>", true},
        {"a comment that never ends", "<T><!-- <a><a><a><a>", true},
        {"no XML at all", "just text > and < signs", true},
        {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ferrolink_xml::NestingWithin(c.text, 3), c.within) << c.what;
}

TEST(XmlDepth, DeepFilesAreFoundWithoutRecursion) {
    EXPECT_FALSE(ferrolink_xml::NestingWithin(Nested(300000), ferrolink_xml::kMaxSetFileDepth));
    EXPECT_TRUE(ferrolink_xml::NestingWithin(Nested(256), ferrolink_xml::kMaxSetFileDepth));
    EXPECT_FALSE(ferrolink_xml::NestingWithin(Nested(257), ferrolink_xml::kMaxSetFileDepth));
    EXPECT_EQ(ferrolink_xml::FileNestingWithin("/nonexistent/set.xml", 3),
              ferrolink_xml::FileNesting::kUnreadable);
}

}  // namespace
