#include "log/call_site.h"

#include <gtest/gtest.h>

namespace {

struct SignatureCase {
    const char* signature;
    const char* expected;
};

class QualifiedFunctionName : public testing::TestWithParam<SignatureCase> {};

TEST_P(QualifiedFunctionName, ReducesSignatureToQualifiedName)
{
    EXPECT_EQ(Log::qualifiedFunctionName(GetParam().signature), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, QualifiedFunctionName,
    testing::Values(SignatureCase{"int wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)", "wWinMain"},
                    SignatureCase{"virtual HRESULT CUpdatePlugin::initialize(IPluginSystem*)", "CUpdatePlugin::initialize"},
                    SignatureCase{"void PluginEventsCallback::onStart() const", "PluginEventsCallback::onStart"},
                    SignatureCase{"bool {anonymous}::initializePlugin(uint32_t)", "`anonymous-namespace'::initializePlugin"},
                    SignatureCase{"static void Nano::FileLog::write(const wchar_t*, int, ...)", "Nano::FileLog::write"},
                    SignatureCase{"std::map<int, std::vector<int> > ns::f(int)", "ns::f"},
                    SignatureCase{"const std::wstring& A::B::name() const &", "A::B::name"},
                    SignatureCase{"char* g(void (*)(int))", "g"},
                    SignatureCase{"T ns::get(T) [with T = int]", "ns::get"},
                    SignatureCase{"void C::operator()()", "C::operator()"},
                    SignatureCase{"int wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)::<lambda()>", "wWinMain::<lambda>"},
                    SignatureCase{"CUpdatePlugin::initialize", "CUpdatePlugin::initialize"}));

TEST(SourceFileName, TakesThePartAfterTheLastBackslashOnly)
{
    EXPECT_EQ(Log::sourceFileName("C:\\src\\ombrix\\ombrix.cpp"), "ombrix.cpp");
    EXPECT_EQ(Log::sourceFileName("ombrix.cpp"), "ombrix.cpp");
    // A forward slash is not a separator here: the build's path is used whole.
    EXPECT_EQ(Log::sourceFileName("ombrix/update_plugin.cpp"), "ombrix/update_plugin.cpp");
    EXPECT_EQ(Log::sourceFileName("dir\\"), "");
}

TEST(ComposeEnvelope, JoinsFileFunctionLineAndMessage)
{
    EXPECT_EQ(Log::composeEnvelope("x\\events.cpp", "void PluginEventsCallback::onStart()", 48,
                                   L"failed plugin events callback, HRESULT = 0x%x"),
              L"events.cpp | PluginEventsCallback::onStart | 48 | failed plugin events callback, HRESULT = 0x%x");
}

TEST(ComposeEnvelope, KeepsPercentSignsOfTheMessageForThePrintfStage)
{
    EXPECT_EQ(Log::composeEnvelope("a.cpp", "void f()", 1, L"100%% done %s"), L"a.cpp | f | 1 | 100%% done %s");
}

TEST(WithPluginId, PrefixesTheIdAndLeavesPlaceholdersAlone)
{
    EXPECT_EQ(withPluginId(3, L"got language: %s"), L"plugin_id: 3 | got language: %s");
    EXPECT_EQ(withPluginId(4294967295u, L"x"), L"plugin_id: 4294967295 | x");
}

} // namespace
