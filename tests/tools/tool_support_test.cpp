#include "tool_support.h"

#include <gtest/gtest.h>

namespace zerik::tools {
namespace {

struct NameCase {
    const char* input;
    const char* expected;
};

void PrintTo(const NameCase& tc, std::ostream* os) {
    *os << tc.input;
}

class ResultName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResultName, FirstCharacterOfTheFileNameBecomesJ) {
    EXPECT_EQ(resultFileName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ToolSupport, ResultName,
                         ::testing::Values(NameCase{"01.prt", "j1.prt"},
                                           NameCase{"000.prt", "j00.prt"},
                                           NameCase{"pages/01.prt", "pages/j1.prt"},
                                           NameCase{"./7", "./j"},
                                           NameCase{"0123456789012345678901234567890123.prt",
                                                    "j123456789012345678901234567890"}));

class PictureName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PictureName, ThreeCharactersAfterTheFileNamesFirstDotBecomeBmp) {
    EXPECT_EQ(pictureFileName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ToolSupport, PictureName,
                         ::testing::Values(NameCase{"j1.prt", "j1.bmp"},
                                           NameCase{"j1.prt.old", "j1.bmp.old"},
                                           NameCase{"j1", "j1.bmp"},
                                           NameCase{"./j1.prt", "./j1.bmp"},
                                           NameCase{"../pages/j00.prt", "../pages/j00.bmp"},
                                           NameCase{"a.b/j1", "a.b/j1.bmp"}));

}  // namespace
}  // namespace zerik::tools
