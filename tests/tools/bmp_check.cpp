#include "bmp_check.h"

#include <gtest/gtest.h>

namespace zerik::tools::testing {

void expectColourTable(const std::vector<std::uint8_t>& bmp, std::array<int, 3> lastEntryRgb) {
    ASSERT_GE(bmp.size(), 1078u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32At(bmp, 10), 1078u);
    EXPECT_EQ(le32At(bmp, 14), 40u);
    EXPECT_EQ(le16At(bmp, 26), 1u);
    EXPECT_EQ(le16At(bmp, 28), 8u);
    EXPECT_EQ(le32At(bmp, 30), 0u);
    for (std::size_t i = 0; i < 255; ++i) {
        const std::size_t at = 54 + 4 * i;
        ASSERT_EQ(bmp[at], i);
        ASSERT_EQ(bmp[at + 1], i);
        ASSERT_EQ(bmp[at + 2], i);
        ASSERT_EQ(bmp[at + 3], 0);
    }
    const std::size_t last = 54 + 4 * 255;
    EXPECT_EQ(bmp[last], lastEntryRgb[2]);
    EXPECT_EQ(bmp[last + 1], lastEntryRgb[1]);
    EXPECT_EQ(bmp[last + 2], lastEntryRgb[0]);
    EXPECT_EQ(bmp[last + 3], 0);
}

void expectReaderSees(const ScratchDir& dir, const std::string& name, int width, int height) {
    if (runShell("command -v identify >/dev/null", dir).exitStatus != 0) {
        GTEST_SKIP() << "identify (ImageMagick) is not installed";
    }
    const ToolResult size = runShell("identify -format '%m %w %h %z' " + name, dir);
    EXPECT_EQ(size.exitStatus, 0);
    EXPECT_EQ(size.output, "BMP3 " + std::to_string(width) + " " + std::to_string(height) + " 8");
    const ToolResult verbose =
        runShell("identify -verbose " + name + " | grep -c 'Colormap entries: 256'", dir);
    EXPECT_EQ(verbose.output, "1\n");
}

}  // namespace zerik::tools::testing
