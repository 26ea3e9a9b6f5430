#include "diagnostics/custom_config_limits.h"
#include "support/parsed_xml_depth.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using Diagnostics::Private::kCustomConfigMaxDepth;
using Diagnostics::Private::xmlElementDepth;

struct DepthCase {
    const char* name;
    std::string text;
    std::size_t depth;
    friend void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.name; }
};

std::string repeated(const std::string& part, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += part;
    return text;
}

class XmlElementDepth : public testing::TestWithParam<DepthCase> {};

TEST_P(XmlElementDepth, FollowsTheParser)
{
    EXPECT_EQ(xmlElementDepth(GetParam().text), GetParam().depth);
    // What the reader lets through, the parser itself confirms; a deeper text would overflow its stack.
    if (GetParam().depth > kCustomConfigMaxDepth)
        return;
    if (const std::optional<std::size_t> parsed = TestSupport::parsedXmlDepth(GetParam().text)) {
        EXPECT_EQ(*parsed, GetParam().depth);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlElementDepth,
    testing::Values(
        DepthCase{"Empty", "", 0}, DepthCase{"SelfClosing", "<a/>", 1},
        DepthCase{"Nested", "<a><b><c/></b></a>", 3},
        DepthCase{"Siblings", "<a> <b>x</b> <b x='1' /> <b></b> </a>", 2},
        // The parser does not compare a closing tag's name.
        DepthCase{"AnyClosingName", "<a><b></c><b></d></a>", 2},
        DepthCase{"TenThousandDeep", repeated("<a>", 10'000) + repeated("</a>", 10'000), 10'000},
        DepthCase{"Unclosed", "<a><b><c>", 3},
        // Markup that nests nothing and closes nothing.
        DepthCase{"Comment", "<a><!-- <b><c><d> </a></a> --><b/></a>", 2},
        DepthCase{"CommentEndsAtItsOwnDashes", "<a><!--></a>--><b></b></a>", 2},
        DepthCase{"Cdata", "<a><![CDATA[</a><b><c>]]><b></b></a>", 2},
        DepthCase{"ProcessingInstruction", "<a><?pi </a> <b> ?><b></b></a>", 2},
        DepthCase{"DeclarationEndsAfterItsQuotedValues",
                  "<?xml version='1.0' x=\"?></a>\"?><a><?xml y='?></a>' ?><b></b></a>", 2},
        DepthCase{"QuotedAttributeValues", "<a x=\"</a>\" y='\"/></a>' ><b z=\"<b>\"></b></a>", 2},
        DepthCase{"SelfClosingWithAttributes", "<a><b x='>' y=\"/>\"/><b/></a>", 2},
        DepthCase{"DoctypeWithInternalSubset",
                  "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a><!DOCTYPE b [ </a> [</a>] ]><b/></a>", 2},
        DepthCase{"OtherDeclaration", "<a><!ENTITY </a><b></b></a>", 2},
        DepthCase{"ByteOrderMark", "\xEF\xBB\xBF<a><b></b></a>", 2},
        // The parser's name of an element runs to whitespace, '/', '>' or '?'.
        DepthCase{"NameWithLessThan", "<a<b><c></c></a<b>", 2},
        // Where the parser stops, the scan does.
        DepthCase{"StopsAtAZeroByte", std::string("<a><b>\0<c><d>", 13), 2},
        DepthCase{"StopsWhereTheParserFails", "<a>< b><c><d>", 1},
        DepthCase{"TextBeforeTheFirstElement", "x<a><b>", 0},
        DepthCase{"UnendedComment", "<a><!-- <b><c>", 1},
        DepthCase{"UnendedAttributeValue", "<a><b x='></b><c><d>", 1}),
    [](const testing::TestParamInfo<DepthCase>& info) { return info.param.name; });

} // namespace
