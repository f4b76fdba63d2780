// The console's parsers, dump layout and page handler, without a device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "command_line.h"
#include "dsp_files.h"
#include "page_capture.h"

namespace dspmon {
namespace {

// ---- Argument check and numbers -------------------------------------------

struct ArgumentCase {
    const char* text;
    int tokens;
    const char* rewritten;
};

TEST(CheckArgumentsTest, CountsTokensAndRefusesBadOnes) {
    const ArgumentCase cases[] = {
        {" 100 1 2 3", 4, " 100 1 2 3"},
        {" 0:100 5", 2, "   100 5"},
        {" 1:2:3", 1, "   2:3"},  // only the first colon clears the text before it
        {" 100,1,2", 3, " 100 1 2"},
        {" 10000 5", -1, nullptr},  // token of five characters
        {" 0x10", -1, nullptr},     // the letter x
        {" 1-2", -1, nullptr},
        {" ;<=> gh GH", 3, " ;<=> gh GH"},
        {" fffF", 1, " fffF"},
        {" i", -1, nullptr},
        {"", 0, ""},
        {"   ", 0, "   "},
        {"\t1", -1, nullptr},  // only spaces separate tokens
    };
    for (const ArgumentCase& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(CheckArguments(text), c.tokens) << '"' << c.text << '"';
        if (c.rewritten != nullptr) {
            EXPECT_EQ(text, c.rewritten) << '"' << c.text << '"';
        }
    }
}

TEST(ParseHexNumbersTest, ReadsLikeAScanOfHexNumbers) {
    using V = std::vector<uint32_t>;
    EXPECT_EQ(ParseHexNumbers(" 7ffa", 1), V{0x7FFA});
    EXPECT_EQ(ParseHexNumbers("", 1), V{});
    EXPECT_EQ(ParseHexNumbers("   ", 3), V{});
    EXPECT_EQ(ParseHexNumbers(" 1 2 g 3", 17), (V{1, 2}));
    EXPECT_EQ(ParseHexNumbers(" 1g 3", 17), V{1});
    EXPECT_EQ(ParseHexNumbers(" 0x10 0X1f", 5), (V{0x10, 0x1F}));
    EXPECT_EQ(ParseHexNumbers(" 0xg", 5), V{0});
    EXPECT_EQ(ParseHexNumbers(" -1", 1), V{0xFFFFFFFFu});
    EXPECT_EQ(ParseHexNumbers(" a b c d", 2), (V{0xA, 0xB}));
    EXPECT_EQ(ParseHexNumbers(" 123456789", 1), V{0x23456789});  // wraps at 32 bits
}

// ---- Dump layout ---------------------------------------------------------

const char kDumpHeading[] =
    "#dsp=0  0L  1L   2L  3L   4L  5L   6L  7L   8L  9L   aL  bL   cL  dL   eL  fL \n";

TEST(FormatDumpTest, HeadingAndLinesOfSixteenWords) {
    std::vector<uint16_t> words(kDumpWords);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(0xA0 + i);
    const std::string dump = FormatDump(0, 0x1000, 0x1000, words);
    ASSERT_EQ(dump.substr(0, sizeof kDumpHeading - 1), kDumpHeading);
    const std::string first_line =
        "1000: 00a000a1 00a200a3 00a400a5 00a600a7-00a800a9 00aa00ab 00ac00ad 00ae00af\n";
    EXPECT_EQ(dump.substr(sizeof kDumpHeading - 1, first_line.size()), first_line);
    EXPECT_NE(dump.find("\n1070: 01100111 01120113"), std::string::npos)
        << "a line is eight words apart on each side of the dash";
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 9);
}

TEST(FormatDumpTest, WordsBelowTheAddressAreBlank) {
    std::vector<uint16_t> words(kDumpWords, 0xBEEF);
    const std::string dump = FormatDump(0, 0x7FF0, 0x7FFA, words);
    // Ten blank words, then 7FFA to 7FFF.
    const std::string first_line = "7FF0:" + std::string(36, ' ') + "-" + std::string(8, ' ') +
                                   " beefbeef beefbeef beefbeef\n";
    EXPECT_EQ(dump.substr(sizeof kDumpHeading - 1, first_line.size()), first_line);
    EXPECT_NE(dump.find("\n8000: beefbeef"), std::string::npos);
}

// ---- Table, position and stop files ---------------------------------------

TEST(ReadTableWordsTest, SkipsTheHeaderAndKeepsWhatAShortFileLacks) {
    std::vector<uint8_t> file(kTableHeaderBytes + 5, 0xEE);
    const uint8_t entries[] = {0x34, 0x12, 0xCD, 0xAB, 0x77};  // odd last byte
    std::copy(std::begin(entries), std::end(entries), file.begin() + kTableHeaderBytes);
    std::vector<uint16_t> words(4, 0x5555);
    ReadTableWords(file, words);
    EXPECT_EQ(words, (std::vector<uint16_t>{0x1234, 0xABCD, 0x5555, 0x5555}));

    std::vector<uint16_t> untouched(2, 0x5555);
    ReadTableWords(std::vector<uint8_t>(10, 0xEE), untouched);
    EXPECT_EQ(untouched, (std::vector<uint16_t>{0x5555, 0x5555}));
}

TEST(SwappedWordBytesTest, HighByteFirst) {
    const uint16_t words[] = {0x1234, 0x00FF};
    EXPECT_EQ(SwappedWordBytes(words), (std::vector<uint8_t>{0x12, 0x34, 0x00, 0xFF}));
}

TEST(ParsePositionFileTest, AddsTheOffsets) {
    const auto parsed = ParsePositionFile("#columns\n3\n100\n200\n300\n# bar\n1 50 60 40\n5 -2\n",
                                          PositionFileKind::Main);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(parsed.value->columns, (std::vector<uint16_t>{105, 205, 305}));
    EXPECT_EQ(parsed.value->bar, (std::array<uint16_t, 4>{1, 55, 58, 40}));

    WordBuf buf{};
    buf.fill(0x7777);
    StorePositions(*parsed.value, buf);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[3], 305);
    EXPECT_EQ(buf[4], 0x7777) << "words after the columns are left alone";
    EXPECT_EQ(buf[42], 1);
    EXPECT_EQ(buf[45], 40);
    EXPECT_EQ(buf[46], 0x7777);
}

TEST(ParsePositionFileTest, WrapsTo16BitsAndTakesCrLf) {
    const auto parsed = ParsePositionFile(
        "2\r\n10\r\n70000\r\n2 3 4 5 trailing words\r\n-20 -10\r\n", PositionFileKind::Alternate);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(parsed.value->columns, (std::vector<uint16_t>{0xFFF6, (70000 - 20) & 0xFFFF}));
    EXPECT_EQ(parsed.value->bar, (std::array<uint16_t, 4>{2, 0xFFEF, 0xFFFA, 5}));
}

TEST(ParsePositionFileTest, RefusesWhatWouldStoreGarbageOrOverrun) {
    struct Case {
        const char* text;
        PositionFileKind kind;
        const char* error;
    };
    const std::string long_line = "1\n" + std::string(80, '1') + "\n1 2 3 4\n0 0\n";
    const Case cases[] = {
        {"42\n", PositionFileKind::Main, "line 1: 42 column positions, at most 41"},
        {"#c\n-1\n", PositionFileKind::Main, "line 2: -1 column positions, at most 41"},
        {"2\n10\n\n1 2 3 4\n0 0\n", PositionFileKind::Main, "line 3 is not a number"},
        {"2\n10\nx20\n1 2 3 4\n0 0\n", PositionFileKind::Main, "line 3 is not a number"},
        {"2\n10\n20abc\n1 2 3 4\n0 0\n", PositionFileKind::Main, "line 3 is not a number"},
        {"1\n10\n1 2 3\n0 0\n", PositionFileKind::Main, "line 3 needs 4 numbers"},
        {"1\n10\n# bar\n1 2 3 4\n0 0\n", PositionFileKind::Alternate, "line 3 needs 4 numbers"},
        {"1\n10\n1 2 3 4\n5\n", PositionFileKind::Main, "line 4 needs 2 numbers"},
        {"1\n10\n1 2 3 4\n", PositionFileKind::Main, "ends before line 4"},
        {"", PositionFileKind::Main, "ends before line 1"},
        {"#only a comment\n", PositionFileKind::Main, "ends before line 2"},
        {"1\n99999999999\n1 2 3 4\n0 0\n", PositionFileKind::Main, "line 2 is not a number"},
        {long_line.c_str(), PositionFileKind::Main, "line 2 is longer than 79 characters"},
    };
    for (const Case& c : cases) {
        const auto parsed = ParsePositionFile(c.text, c.kind);
        EXPECT_FALSE(parsed.value) << c.text;
        EXPECT_EQ(parsed.error, c.error) << c.text;
    }
}

TEST(ParsePositionFileTest, FortyOneColumnsFit) {
    std::string text = "41\n";
    for (int i = 0; i < 41; ++i) text += std::to_string(i) + "\n";
    text += "0 0 0 0\n0 0\n";
    const auto parsed = ParsePositionFile(text, PositionFileKind::Main);
    ASSERT_TRUE(parsed.value) << parsed.error;
    EXPECT_EQ(parsed.value->columns.size(), 41u);
}

TEST(ParseStopFileTest, OneValuePerLine) {
    struct Case {
        std::string text;
        std::vector<uint16_t> values;
    };
    std::string full;
    for (int i = 0; i < 48; ++i) full += std::to_string(i) + "\n";
    std::vector<uint16_t> full_values(48);
    for (uint16_t i = 0; i < 48; ++i) full_values[i] = i;
    const Case cases[] = {
        {"7\n8\n9\n", {7, 8, 9}},
        {"7\n8\n9", {7, 8, 9}},  // the last value needs no line break
        {"# stops\n7\n# more\n8\n", {7, 8}},
        {"7\r\n-1\r\n", {7, 0xFFFF}},
        {"", {}},
        {"# nothing after the comment\n", {}},
        {full, full_values},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseStopFile(c.text);
        ASSERT_TRUE(parsed.value) << c.text << parsed.error;
        EXPECT_EQ(*parsed.value, c.values) << c.text;
    }
}

TEST(ParseStopFileTest, RefusesBlankNonNumericAndTooMany) {
    std::string forty_nine;
    for (int i = 0; i < 49; ++i) forty_nine += "1\n";
    const std::pair<std::string, std::string> cases[] = {
        {"7\n\n9\n", "line 2 is not a number"},
        {"7\n   \n", "line 2 is not a number"},
        {"7\neight\n", "line 2 is not a number"},
        {"#a\n#b\n7\n", "line 2 is not a number"},  // the line after a comment is a value
        {forty_nine, "more than 48 values"},
        {std::string(100, '7') + "\n", "line 1 is longer than 79 characters"},
    };
    for (const auto& [text, error] : cases) {
        const auto parsed = ParseStopFile(text);
        EXPECT_FALSE(parsed.value) << text;
        EXPECT_EQ(parsed.error, error) << text;
    }
}

// ---- Page handler and allocator ------------------------------------------

class PageCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dspmon_unit_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        old_dir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir_);
        std::filesystem::remove_all(dir_);
    }

    // A page as the library hands it over: header, then `data`; the image
    // size field says `image_size`.
    static ZkGlobalHandle MakePage(const std::vector<uint8_t>& data, uint32_t image_size) {
        uint32_t size = kPageHeaderBytes + static_cast<uint32_t>(data.size());
        const ZkGlobalHandle memory = AllocatePage(&size, nullptr);
        auto* bytes = static_cast<uint8_t*>(ZkGlobalLock(memory));
        for (int i = 0; i < 4; ++i) bytes[20 + i] = static_cast<uint8_t>(image_size >> (8 * i));
        std::memcpy(bytes + kPageHeaderBytes, data.data(), data.size());
        ZkGlobalUnlock(memory);
        return memory;
    }

    static std::vector<uint8_t> ReadFile(const char* name) {
        std::ifstream file(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path dir_;
    std::filesystem::path old_dir_;
};

TEST_F(PageCaptureTest, WritesNumberedFilesAndFreesThePage) {
    PageCapture capture;
    EXPECT_EQ(capture.LastFileName(), "");
    const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6};
    const std::vector<uint8_t> second = {9, 8, 7};
    PageRecord record{};
    record.Memory = MakePage(first, 6);
    EXPECT_EQ(capture.OnPage(record), 1);
    EXPECT_EQ(ZkGlobalSize(record.Memory), 0u) << "the handler frees the page";
    EXPECT_TRUE(capture.event().Wait(0));
    EXPECT_EQ(capture.LastFileName(), "000.prt");
    EXPECT_EQ(ReadFile("000.prt"), first);

    capture.event().Reset();
    record.Memory = MakePage(second, 3);
    EXPECT_EQ(capture.OnPage(record), 1);
    EXPECT_TRUE(capture.event().Wait(0));
    EXPECT_EQ(capture.LastFileName(), "001.prt");
    EXPECT_EQ(ReadFile("001.prt"), second);
}

TEST_F(PageCaptureTest, ImageSizeIsHeldToTheBlock) {
    PageCapture capture;
    const std::vector<uint8_t> data = {1, 2, 3};
    PageRecord record{};
    record.Memory = MakePage(data, 0xFFFFFFF0u);
    capture.OnPage(record);
    EXPECT_EQ(ReadFile("000.prt"), data);
}

TEST_F(PageCaptureTest, UnwritableFileUsesUpItsNumberAndLeavesTheEventAlone) {
    PageCapture capture;
    std::filesystem::create_directory("000.prt");  // cannot be opened for writing
    PageRecord record{};
    record.Memory = MakePage({1}, 1);
    capture.OnPage(record);
    EXPECT_EQ(ZkGlobalSize(record.Memory), 0u);
    EXPECT_FALSE(capture.event().Wait(0));
    record.Memory = MakePage({2}, 1);
    capture.OnPage(record);
    EXPECT_EQ(capture.LastFileName(), "001.prt");
    EXPECT_EQ(ReadFile("001.prt"), std::vector<uint8_t>{2});
}

TEST(AllocatePageTest, ZeroMeansSixteenMebibytes) {
    uint32_t size = 0;
    const ZkGlobalHandle memory = AllocatePage(&size, nullptr);
    ASSERT_NE(memory, 0u);
    EXPECT_EQ(size, kDefaultPageBytes);
    EXPECT_EQ(ZkGlobalSize(memory), kDefaultPageBytes);
    ZkGlobalFree(memory);

    size = 2000;
    const ZkGlobalHandle small = AllocatePage(&size, nullptr);
    EXPECT_EQ(size, 2000u);
    EXPECT_EQ(ZkGlobalSize(small), 2000u);
    const auto* bytes = static_cast<const uint8_t*>(ZkGlobalLock(small));
    EXPECT_TRUE(std::all_of(bytes, bytes + 2000, [](uint8_t b) { return b == 0; }));
    ZkGlobalUnlock(small);
    ZkGlobalFree(small);
}

}  // namespace
}  // namespace dspmon
