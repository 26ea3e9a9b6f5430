#include "system/path.h"

#include <gtest/gtest.h>

namespace {

using System::Path;

struct NormalCase {
    const wchar_t* input;
    const wchar_t* normal;
    bool root;
    bool relative;
};

class PathNormalisation : public testing::TestWithParam<NormalCase> {};

TEST_P(PathNormalisation, KeepsRootsAndDropsOneTrailingSeparator)
{
    const Path path(GetParam().input);
    EXPECT_EQ(path.str(), GetParam().normal);
    EXPECT_EQ(path.isRoot(), GetParam().root);
    EXPECT_EQ(path.isRelative(), GetParam().relative);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PathNormalisation,
    testing::Values(NormalCase{L"", L"", false, true},
                    NormalCase{L"\\", L"\\", true, false},
                    NormalCase{L"/", L"/", true, false},
                    NormalCase{L"C:\\", L"C:\\", true, false},
                    NormalCase{L"c:/", L"c:/", true, false},
                    NormalCase{L"\\\\?\\C:\\", L"\\\\?\\C:\\", true, false},
                    NormalCase{L"C:\\Games\\", L"C:\\Games", false, false},
                    NormalCase{L"C:\\Games/", L"C:\\Games", false, false},
                    NormalCase{L"C:\\Games\\\\", L"C:\\Games\\", false, false},
                    NormalCase{L"\\\\?\\d:\\x\\", L"\\\\?\\d:\\x", false, false},
                    NormalCase{L"\\\\server\\share\\", L"\\\\server\\share", false, false},
                    NormalCase{L"Games\\X", L"Games\\X", false, true},
                    NormalCase{L"tvx_id.dat", L"tvx_id.dat", false, true},
                    NormalCase{L"C:relative", L"C:relative", false, true},
                    NormalCase{L":/icons/a.png", L":/icons/a.png", false, false},
                    NormalCase{L"qrc:/icons/a.png", L"qrc:/icons/a.png", false, false}));

TEST(Path, ParentOfARootIsItself)
{
    for (const wchar_t* root : {L"\\", L"C:\\", L"\\\\?\\C:\\"})
        EXPECT_EQ(Path(root).parent(), Path(root)) << root;
}

TEST(Path, ParentDropsTheLastComponent)
{
    EXPECT_EQ(Path(L"C:\\Games\\Tvx\\ombrix.exe").parent().str(), L"C:\\Games\\Tvx");
    EXPECT_EQ(Path(L"C:\\Games\\Tvx\\ombrix.exe").parent().parent().str(), L"C:\\Games");
    EXPECT_EQ(Path(L"C:/Games/Tvx/").parent().str(), L"C:/Games");
    EXPECT_EQ(Path(L"\\\\?\\C:\\Games").parent().str(), L"\\\\?\\C:\\");
    EXPECT_EQ(Path(L"\\tmp").parent().str(), L"\\");
    EXPECT_EQ(Path(L"a\\b").parent().str(), L"a");
    EXPECT_TRUE(Path(L"file").parent().empty());
}

// Reaching the drive root keeps its separator: "C:" alone would mean the
// current directory of drive C.
TEST(Path, ParentOfATopFolderIsTheDriveRoot)
{
    EXPECT_EQ(Path(L"C:\\Games").parent().str(), L"C:\\");
    EXPECT_TRUE(Path(L"C:\\Games").parent().isRoot());
}

TEST(Path, JoinPutsOneSeparatorBetween)
{
    EXPECT_EQ((Path(L"C:\\ProgramData") / L"Tervane\\Arvenna" / L"data").str(), L"C:\\ProgramData\\Tervane\\Arvenna\\data");
    EXPECT_EQ((Path(L"C:\\") / L"x").str(), L"C:\\x");
    EXPECT_EQ((Path(L"C:\\a") / L"\\b\\").str(), L"C:\\a\\b");
    EXPECT_EQ((Path(L"C:/a") / L"").str(), L"C:/a");
    EXPECT_EQ((Path() / L"tvx_id.dat").str(), L"tvx_id.dat");
}

TEST(Path, TextFormRaisesTheDriveLetter)
{
    EXPECT_EQ(Path(L"c:\\games").toString(), L"C:\\games");
    EXPECT_EQ(Path(L"\\\\?\\d:\\x").toString(), L"\\\\?\\D:\\x");
    EXPECT_EQ(Path(L"C:\\games").toString(), L"C:\\games");
    EXPECT_EQ(Path(L"games\\c:").toString(), L"games\\c:");
    EXPECT_EQ(Path(L"\\\\server\\c").toString(), L"\\\\server\\c");
    EXPECT_EQ(Path(L"1:\\x").toString(), L"1:\\x");
}

} // namespace
