#include "stats/installation_id_rules.h"

#include <gtest/gtest.h>

namespace {

const std::string kForty = "0123456789abcdefghijABCDEFGHIJ0123456789";

TEST(InstallationIdRules, WholeTextMustBeFortyAlphanumerics)
{
    EXPECT_TRUE(Stats::isValidInstallationId(kForty));
    EXPECT_FALSE(Stats::isValidInstallationId(kForty + "\n"));
    EXPECT_FALSE(Stats::isValidInstallationId(kForty.substr(1)));
    EXPECT_FALSE(Stats::isValidInstallationId(kForty.substr(1) + "-"));
    EXPECT_FALSE(Stats::isValidInstallationId(""));
    EXPECT_FALSE(Stats::isValidInstallationId("unknown"));
}

TEST(InstallationIdRules, IncompleteIsTheBeginningOfOne)
{
    EXPECT_TRUE(Stats::isIncompleteInstallationId(""));
    EXPECT_TRUE(Stats::isIncompleteInstallationId(kForty.substr(0, 39)));
    EXPECT_FALSE(Stats::isIncompleteInstallationId(kForty));
    EXPECT_FALSE(Stats::isIncompleteInstallationId("AB\r"));
}

TEST(InstallationIdRules, DigestIsFortyUpperCaseHexDigits)
{
    EXPECT_EQ(Stats::formatDigest({0x0, 0x1, 0xABCDEF01, 0xFFFFFFFF, 0x10}), "00000000" "00000001" "ABCDEF01" "FFFFFFFF" "00000010");
}

struct ValueCase {
    const char* name;
    std::uint32_t type;
    std::size_t characters; // written, terminator excluded
    bool accepted;
};

class PredecessorValue : public testing::TestWithParam<ValueCase> {};

TEST_P(PredecessorValue, AcceptsOnlyFortyCharactersAndTheTerminator)
{
    const ValueCase& c = GetParam();
    std::u16string buffer(41, u'\0');
    for (std::size_t i = 0; i < c.characters && i < 41; ++i)
        buffer[i] = u'A';
    const auto size = static_cast<std::uint32_t>((c.characters + 1) * 2);
    EXPECT_EQ(Stats::acceptPredecessorValue(c.type, buffer, size).has_value(), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Values, PredecessorValue,
                         testing::Values(ValueCase{"Sz40", 1, 40, true}, ValueCase{"ExpandSz40", 2, 40, true},
                                         ValueCase{"Sz39", 1, 39, false}, ValueCase{"Sz41", 1, 41, false},
                                         ValueCase{"Binary40", 3, 40, false}, ValueCase{"Dword", 4, 40, false}),
                         [](const auto& info) { return info.param.name; });

TEST(PredecessorValue, OddSizeOrMissingTerminatorIsRefused)
{
    std::u16string buffer(41, u'A');
    EXPECT_FALSE(Stats::acceptPredecessorValue(1, buffer, 82).has_value());
    buffer[40] = u'\0';
    EXPECT_FALSE(Stats::acceptPredecessorValue(1, buffer, 81).has_value());
    EXPECT_EQ(Stats::acceptPredecessorValue(1, buffer, 82), std::string(40, 'A'));
    buffer[3] = u'\u00e4';
    EXPECT_FALSE(Stats::acceptPredecessorValue(1, buffer, 82).has_value());
}

} // namespace
