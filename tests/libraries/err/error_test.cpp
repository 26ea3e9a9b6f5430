#include "err/generic_error.h"
#include "err/system_error.h"
#include "err/utf.h"
#include "system/errors.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::EndsWith;
using testing::StartsWith;

using KnownPathsFailed = Err::GenericError<System::Env::KnownPaths::Errors::Failed_traits>;
using SystemFailed = Err::GenericError<System::Errors::Failed_traits>;

struct ParsingBase_traits { static constexpr const char* word = "Diagnostics"; };
struct Config_traits { using Parent = ParsingBase_traits; static constexpr const char* word = "Config"; };
struct ParsingFailed_traits { using Parent = Config_traits; static constexpr const char* word = "ParsingFailed"; };
using ParsingFailed = Err::GenericError<ParsingFailed_traits>;

std::string accessDeniedText()
{
    return Err::systemMessage(5);
}

TEST(ErrorText, KnownPathsFailureWrappingAccessDenied)
{
    const KnownPathsFailed error(Err::makeSystemError(5), "Failed to get temp folder");
    ASSERT_FALSE(accessDeniedText().empty());
    EXPECT_EQ(std::string(error.what()), "[Error.KnownPaths.Failed] Failed to get temp folder: \r\n"
                                         "+ [Error.System.AccessDenied] " + accessDeniedText() + " (5)");
    EXPECT_EQ(error.fullName(), "Error.KnownPaths.Failed+Error.System.AccessDenied");
    EXPECT_EQ(error.name(), "Error.KnownPaths.Failed");
}

TEST(ErrorText, ParsingFailureWrappingAStandardException)
{
    const ParsingFailed error(std::runtime_error("bad xml at line 3"), "");
    EXPECT_STREQ(error.what(), "[Error.Diagnostics.Config.ParsingFailed]\r\n+ [std::exception] bad xml at line 3");
    EXPECT_EQ(error.fullName(), "Error.Diagnostics.Config.ParsingFailed+std::exception");
}

TEST(ErrorText, Error2WithAndWithoutMessage)
{
    EXPECT_STREQ(Err::Error2().what(), "[Error]");
    EXPECT_STREQ(Err::Error2("x").what(), "[Error] x: ");
    EXPECT_EQ(Err::Error2("x").fullName(), "Error");
    EXPECT_EQ(Err::Error2("x").code(), std::error_code(16001, Err::errCategory()));
}

TEST(ErrorText, PlainErrorUsesTheStandardText)
{
    const Err::Error withMessage("Error occurred in isAppRunningInAdminMode()", 5, std::system_category());
    EXPECT_THAT(withMessage.what(), StartsWith("Error occurred in isAppRunningInAdminMode(): "));
    EXPECT_EQ(withMessage.code().value(), 5);
    EXPECT_EQ(withMessage.name(), "Error");
    EXPECT_EQ(withMessage.fullName(), "Error");
    EXPECT_STREQ(Err::Error("", 16002, Err::errCategory()).what(), "access denied");
}

TEST(ErrorText, DoubleWrappingNestsTheChains)
{
    const auto inner = std::make_shared<SystemFailed>(Err::makeSystemError(2), "open");
    const KnownPathsFailed outer(inner, "outer");
    EXPECT_EQ(std::string(outer.what()), "[Error.KnownPaths.Failed] outer: \r\n+ [Error.System.Failed] open: \r\n"
                                         "+ [Error.System.FileNotFound] " + Err::systemMessage(2) + " (2)");
    EXPECT_EQ(outer.fullName(), "Error.KnownPaths.Failed+Error.System.Failed+Error.System.FileNotFound");
}

TEST(ErrorText, NullWrappedErrorAddsNoChain)
{
    const SystemFailed error(std::shared_ptr<Err::Error>(), "Unexpected state");
    EXPECT_STREQ(error.what(), "[Error.System.Failed] Unexpected state: ");
    EXPECT_EQ(error.fullName(), "Error.System.Failed");
}

TEST(ErrorText, CodeWithoutSystemTextStillShowsTheCode)
{
    EXPECT_STREQ(Err::makeSystemError(-42)->what(), "[Error.System] (-42)");
    EXPECT_STREQ(Err::SystemError(0x7FFFFFF0, "m").what(), "[Error.System] m:  (2147483632)");
}

struct FactoryCase {
    std::int32_t code;
    const char* name;
};

class MakeSystemError : public testing::TestWithParam<FactoryCase> {};

TEST_P(MakeSystemError, PicksTheClassOfTheCode)
{
    const auto error = Err::makeSystemError(GetParam().code);
    EXPECT_EQ(error->name(), GetParam().name);
    EXPECT_EQ(error->systemCode(), GetParam().code);
    EXPECT_THAT(error->what(), EndsWith(" (" + std::to_string(GetParam().code) + ")"));
    EXPECT_THAT(error->what(), StartsWith("[" + std::string(GetParam().name) + "] "));
    // The text of the code is the system's English text.
    EXPECT_NE(std::string(error->what()).find(Err::systemMessage(GetParam().code)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Codes, MakeSystemError,
                         testing::Values(FactoryCase{2, "Error.System.FileNotFound"},
                                         FactoryCase{3, "Error.System.FileNotFound"},
                                         FactoryCase{5, "Error.System.AccessDenied"},
                                         FactoryCase{32, "Error.System.AccessDenied"},
                                         FactoryCase{1392, "Error.System.AccessDenied"},
                                         FactoryCase{112, "Error.System.OutOfDiskSpace"},
                                         FactoryCase{740, "Error.System.ElevationRequired"},
                                         FactoryCase{1223, "Error.System.Cancelled"},
                                         FactoryCase{87, "Error.System"},
                                         FactoryCase{15, "Error.System"}));

TEST(MakeSystemError, LastErrorOfTheThread)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(Err::makeLastSystemError()->name(), "Error.System.AccessDenied");
}

TEST(ErrCategory, NameAndCoreMessages)
{
    const auto& category = Err::errCategory();
    EXPECT_STREQ(category.name(), "Error.Error.Category");
    EXPECT_EQ(category.message(16000), "unknown error");
    EXPECT_EQ(category.message(16001), "");
    EXPECT_EQ(category.message(16008), "unknown core error");
    EXPECT_EQ(category.message(16012), "XML parsing failed");
    EXPECT_EQ(category.message(16014), "already running");
    EXPECT_EQ(category.message(20000), "unknown core error");
    EXPECT_EQ(category.message(5), Err::systemMessage(5));
    EXPECT_EQ(&Err::errCategory(), &category);
}

TEST(ErrCategory, ConditionsDifferFromTheFactory)
{
    const auto& category = Err::errCategory();
    using C = Err::Condition;
    EXPECT_EQ(category.default_error_condition(5), std::error_condition(int(C::AccessDenied), category));
    EXPECT_EQ(category.default_error_condition(16002), std::error_condition(int(C::AccessDenied), category));
    EXPECT_EQ(category.default_error_condition(112), std::error_condition(int(C::OutOfDiskSpace), category));
    EXPECT_EQ(category.default_error_condition(16011), std::error_condition(int(C::IoFailure), category));
    EXPECT_EQ(category.default_error_condition(206), std::error_condition(int(C::FileNotFound), category));
    EXPECT_EQ(category.default_error_condition(87), std::error_condition(int(C::InvalidArgument), category));
    EXPECT_EQ(category.default_error_condition(8), std::error_condition(int(C::NotEnoughMemory), category));
    // 32 is access denied for the factory, but its condition is the system one.
    EXPECT_EQ(category.default_error_condition(32), std::error_condition(32, std::system_category()));
    EXPECT_EQ(Err::makeSystemError(32)->name(), "Error.System.AccessDenied");

    EXPECT_TRUE(category.equivalent(std::error_code(65, category), int(C::AccessDenied)));
    EXPECT_FALSE(category.equivalent(std::error_code(65, std::system_category()), int(C::AccessDenied)));
    EXPECT_FALSE(category.equivalent(std::error_code(2, category), int(C::AccessDenied)));
}

TEST(ErrorCopies, RethrowKeepsTheMostDerivedClass)
{
    const KnownPathsFailed original(Err::makeSystemError(5), "m");
    const Err::Error& asBase = original;
    try {
        asBase.rethrow();
    } catch (const KnownPathsFailed& caught) {
        EXPECT_STREQ(caught.what(), original.what());
        EXPECT_EQ(caught.fullName(), original.fullName());
        return;
    } catch (...) {
    }
    FAIL() << "not caught as its own class";
}

TEST(ErrorCopies, ParentClassCatchesChildren)
{
    EXPECT_THROW(throw KnownPathsFailed("x"), Err::GenericError<System::Env::KnownPaths::Errors::Base_traits>);
    EXPECT_THROW(throw Err::SpecificSystemError<Err::System::Cancelled_t>(1223, ""), Err::SystemError);
    EXPECT_THROW(throw SystemFailed("x"), Err::Error2);
}

TEST(ErrorCopies, CloneAndCopyKeepTypeAndTexts)
{
    const Err::SpecificSystemError<Err::System::ElevationRequired_t> original(740, "start");
    const char* text = original.what(); // fills the cache before copying
    const std::shared_ptr<Err::Error> clone = original.clone();
    EXPECT_NE(dynamic_cast<Err::SpecificSystemError<Err::System::ElevationRequired_t>*>(clone.get()), nullptr);
    EXPECT_STREQ(clone->what(), text);
    const auto copy = original;
    EXPECT_STREQ(copy.what(), text);
    EXPECT_EQ(copy.systemCode(), 740);
}

TEST(Utf, RoundTripsAndMarksInvalidInput)
{
    EXPECT_EQ(Err::toUtf8(std::wstring(L"J\u00e4ger \U0001F600")), "J\xC3\xA4ger \xF0\x9F\x98\x80");
    EXPECT_EQ(Err::fromUtf8("J\xC3\xA4ger \xF0\x9F\x98\x80"), L"J\u00e4ger \U0001F600");
    EXPECT_EQ(Err::toUtf8(std::wstring(L"a\xD800" L"b")), "(invalid string)");
    EXPECT_EQ(Err::fromUtf8("a\xFF"), L"(invalid string)");
    EXPECT_EQ(Err::toUtf8(std::wstring()), "");
}

// Paths for crash reporting: a lone surrogate must not turn the whole path into
// "(invalid string)", a relative folder of that name.
TEST(Utf, ReplacesOnlyTheBrokenCharactersWhereTextMustArrive)
{
    EXPECT_EQ(Err::toUtf8Replacing(std::wstring(L"C:\\Spiele\\\xD800x\\Gr\u00f6\u00dfe")),
              "C:\\Spiele\\\xEF\xBF\xBDx\\Gr\xC3\xB6\xC3\x9F" "e");
    EXPECT_EQ(Err::toUtf8Replacing(std::wstring(L"\xDC00\xD800")), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Err::toUtf8Replacing(std::wstring(L"\U0001F600")), "\xF0\x9F\x98\x80");
}

} // namespace
