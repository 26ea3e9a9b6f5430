#include "proxy_stub_manifest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::string readManifest()
{
    std::ifstream in(OMBRIX_SOURCE_DIR "/ombrix/com/ombrix.manifest", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ProxyStubManifest, TheHostManifestDeclaresFiveInterfacesInOrder)
{
    const auto entries = parseProxyStubEntries(readManifest());
    const std::vector<ProxyStubEntry> expected{
        {L"{74A0E1FA-77D7-4261-A140-E30135F5B253}", L"IUpdatePluginEvents", L"Apartment"},
        {L"{41F2ED58-C7A8-43D8-8F5A-E15229560913}", L"IUpdatePlugin", L"Apartment"},
        {L"{6AD7B3A0-C3A6-4A1A-ACFE-8917F06AA7DC}", L"IAdminHostProcess", L"Apartment"},
        {L"{C8452F94-4761-47C0-B8A5-004397B56BA9}", L"IPluginSystemEvents", L"Apartment"},
        {L"{9844E5BC-2DB1-4408-9A55-B574353DCC4F}", L"IPluginSystem", L"Apartment"}};
    EXPECT_EQ(entries, expected);
}

TEST(ProxyStubManifest, HostManifestBytes)
{
    const std::string manifest = readManifest();
    EXPECT_EQ(manifest.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<assembly ", 0), 0u);
    EXPECT_EQ(manifest.find('\n'), manifest.rfind('\n')) << "the document is on the second line";
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
}

struct DocumentCase {
    const char* name;
    const char* xml;
    std::size_t entries;
};

class ProxyStubDocuments : public testing::TestWithParam<DocumentCase> {};

TEST_P(ProxyStubDocuments, YieldAllOrNothing)
{
    EXPECT_EQ(parseProxyStubEntries(GetParam().xml).size(), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ProxyStubDocuments,
    testing::Values(
        DocumentCase{"TwoFiles", R"(<assembly><file><comInterfaceProxyStub iid="a" name="A" threadingModel="Both"/></file>)"
                                 R"(<file><comInterfaceProxyStub iid="b" name="B" threadingModel=""/></file></assembly>)", 2},
        DocumentCase{"OtherElementsSkipped", R"(<assembly><dependency/><file><comClass/><comInterfaceProxyStub iid="a" name="A" threadingModel="x"/></file></assembly>)", 1},
        DocumentCase{"MissingAttribute", R"(<assembly><file><comInterfaceProxyStub iid="a" name="A" threadingModel="x"/><comInterfaceProxyStub iid="b" name="B"/></file></assembly>)", 0},
        DocumentCase{"OtherRoot", R"(<manifest><file><comInterfaceProxyStub iid="a" name="A" threadingModel="x"/></file></manifest>)", 0},
        DocumentCase{"NameCaseMatters", R"(<assembly><File><comInterfaceProxyStub iid="a" name="A" threadingModel="x"/></File></assembly>)", 0},
        DocumentCase{"NotXml", "<assembly><file>", 0},
        DocumentCase{"Empty", "", 0}),
    [](const auto& info) { return info.param.name; });

TEST(ProxyStubManifest, EmptyThreadingModelIsApartment)
{
    const auto entries = parseProxyStubEntries(
        R"(<assembly><file><comInterfaceProxyStub iid="{1}" name="I" threadingModel=""/></file></assembly>)");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].threadingModel, L"Apartment");
}

} // namespace
