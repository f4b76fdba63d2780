// dspmon end to end: the console runs against the zerik_sim program with a
// scripted input; the test checks what it prints and reads the simulated
// scanner's DSP memory back through the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "console_harness.h"

namespace dspmon::test {
namespace {

const std::string kOpen = "Open Device...\n";
const std::string kNoTables = kOpen + "red.tbl not found!\n";
const std::string kHelp = kHelpText;

// A recognisable word for every address.
uint16_t Pattern(uint32_t address) {
    return static_cast<uint16_t>((address * 0x9E37u + 0xA5C3u) & 0xFFFF);
}

std::vector<uint16_t> PatternWords(uint16_t address, std::size_t count) {
    std::vector<uint16_t> words;
    for (std::size_t i = 0; i < count; ++i) words.push_back(Pattern(address + i));
    return words;
}

// ---- Start-up, command loop, d, e, f ------------------------------------

TEST_F(ConsoleTest, WithoutRedTblNothingIsWritten) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x6B00, PatternWords(0x6B00, 64));
    WriteWords(0x7FA0, PatternWords(0x7FA0, 96));
    const ConsoleRun run = RunConsole("q\n");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, kNoTables + "-");
    EXPECT_EQ(ReadWords(0x6B00, 64), PatternWords(0x6B00, 64));
    EXPECT_EQ(ReadWords(0x7FA0, 96), PatternWords(0x7FA0, 96));
}

TEST_F(ConsoleTest, EndOfInputQuitsAndClosesTheDevice) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    const ConsoleRun run = RunConsole("");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, kNoTables + "-");
    EXPECT_NE(Log().find("Zerik_CloseDevice\n"), std::string::npos);
}

TEST_F(ConsoleTest, DumpPagesMasksAndBlanks) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    // Words 0x60 and 0x61 start the DSP's boot code: they are left as they are.
    WriteWords(0x0000, PatternWords(0x0000, 0x60));
    WriteWords(0x0062, PatternWords(0x0062, 0x100 - 0x62));
    WriteWords(0x1000, PatternWords(0x1000, 0x80));
    WriteWords(0x7FF0, PatternWords(0x7FF0, 0x80));
    // Bare d pages on from 0; d 7ffa starts its lines at 7FF0 and blanks ten
    // words, and the bare d after it wraps to 007A; d 9000 is masked to 1000.
    const ConsoleRun run = RunConsole("d\nd 0\nd 7ffa\nd\nd 9000\nd 0:10\n");
    auto dump = [this](uint16_t base, uint16_t first) {
        return FormatDump(0, base, first, ReadWords(base, kDumpWords));
    };
    EXPECT_EQ(run.output, kNoTables + "-" + dump(0x0080, 0x0080) + "-" + dump(0, 0) + "-" +
                              dump(0x7FF0, 0x7FFA) + "-" + dump(0x0070, 0x007A) + "-" +
                              dump(0x1000, 0x1000) + "-" + dump(0, 0) + "-");
    EXPECT_NE(run.output.find("\n7FF0:" + std::string(36, ' ') + "-" + std::string(8, ' ') + " " +
                              [] {
                                  char words[16];
                                  std::snprintf(words, sizeof words, "%04x%04x",
                                                static_cast<unsigned>(Pattern(0x7FFA)),
                                                static_cast<unsigned>(Pattern(0x7FFB)));
                                  return std::string(words);
                              }()),
              std::string::npos)
        << run.output;
}

TEST_F(ConsoleTest, EnterWritesValuesAndRefusesBadArguments) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x100, PatternWords(0x100, 0x20));
    WriteWords(0x200, PatternWords(0x200, 0x20));
    WriteWords(0x400, PatternWords(0x400, 0x20));
    const std::string usage = kEnterUsage;
    const ConsoleRun run = RunConsole(
        "e 100 1 2 3\n"
        "e 0:200 5\n"
        "e 210,a,B\n"
        "e 400 1 2 3 4 5 6 7 8 9 a b c d e f 10 11\n"
        "e 10000 5\n"
        "e 0x10\n"
        "e\n"
        "e 120 1 zz\n"
        "e 120 ; 7\n"
        "q\n");
    EXPECT_EQ(run.output, kNoTables + "-----" + usage + "-" + usage + "-" + usage + "-" + usage +
                              "-" + usage + "-");
    std::vector<uint16_t> expected = PatternWords(0x100, 0x20);
    expected[0] = 1;
    expected[1] = 2;
    expected[2] = 3;
    EXPECT_EQ(ReadWords(0x100, 0x20), expected);
    expected = PatternWords(0x200, 0x20);
    expected[0] = 5;
    expected[0x10] = 0xA;
    expected[0x11] = 0xB;
    EXPECT_EQ(ReadWords(0x200, 0x20), expected);
    expected = PatternWords(0x400, 0x20);
    for (uint16_t i = 0; i < 16; ++i) expected[i] = static_cast<uint16_t>(i + 1);
    EXPECT_EQ(ReadWords(0x400, 0x20), expected) << "at most sixteen values";
}

TEST_F(ConsoleTest, EnterInteractively) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x500, {0x1111, 0x2222, 0x3333, 0x4444});
    WriteWords(0xFFFF, {0xF00D});
    WriteWords(0x0000, {0x0BAD, 0x0C0C});
    // A number is written, a line without one writes the shown word back, an
    // empty line ends; the address wraps at FFFF; the end of input ends too.
    const ConsoleRun run = RunConsole("e 500\nabcd\nzz\n\ne ffff\n1\n2\n");
    EXPECT_EQ(run.output,
              kNoTables + "-0500: 1111 0501: 2222 0502: 3333 -ffff: f00d 0000: 0bad 0001: 0c0c -");
    EXPECT_EQ(ReadWords(0x500, 4), (std::vector<uint16_t>{0xABCD, 0x2222, 0x3333, 0x4444}));
    EXPECT_EQ(ReadWords(0xFFFF, 1)[0], 1);
    EXPECT_EQ(ReadWords(0x0000, 2), (std::vector<uint16_t>{2, 0x0C0C}));
}

TEST_F(ConsoleTest, FillAndItsUsage) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x600, PatternWords(0x600, 0x20));
    WriteWords(0xFFE0, PatternWords(0xFFE0, 0x20));
    const std::string usage = kFillUsage;
    const ConsoleRun run = RunConsole(
        "f 600 60f 5a5a\n"
        "F 610 610 ffff\n"
        "f fff0 ffff 1234\n"
        "f 200 100 0\n"
        "f 1 2\n"
        "f 1 2 x\n"
        "f 1 2 ;\n"
        "o\n"
        "q\n");
    EXPECT_EQ(run.output,
              kNoTables + "----" + usage + "-" + usage + "-" + usage + "-" + usage + "--");
    std::vector<uint16_t> expected = PatternWords(0x600, 0x20);
    for (int i = 0; i < 16; ++i) expected[i] = 0x5A5A;
    expected[0x10] = 0xFFFF;
    EXPECT_EQ(ReadWords(0x600, 0x20), expected);
    expected = PatternWords(0xFFE0, 0x20);
    for (int i = 16; i < 32; ++i) expected[i] = 0x1234;
    EXPECT_EQ(ReadWords(0xFFE0, 0x20), expected) << "the fill ends at FFFF";
}

TEST_F(ConsoleTest, FailedTransfersAreReported) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    Child console;
    ASSERT_NO_FATAL_FAILURE(StartConsole(console));
    ASSERT_TRUE(WaitForText(root_ / "console.out", kNoTables + "-"));
    // From now on the scanner leaves every command unanswered: a read ends
    // the dump's reading at once, a write ends the list of values.
    ASSERT_NO_FATAL_FAILURE(SimControl("drop all", "drop all"));
    ASSERT_TRUE(console.Send("d 100\ne 100 1 2\nq\n"));
    console.CloseInput();
    int status = 0;
    ASSERT_TRUE(console.Wait(std::chrono::seconds(30), &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadText(root_ / "console.out"),
              kNoTables + "-Read Data Failed!\n" +
                  FormatDump(0, 0x100, 0x100, std::vector<uint16_t>(kDumpWords, 0)) +
                  "-Write Data Failed!\n-");
}

TEST_F(ConsoleTest, HelpForOtherLinesAndNothingForEmptyOnes) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    const ConsoleRun run = RunConsole("D\nE 100 1\n\n\nO\nx\n" + std::string(256, 'o') + "\nq\n");
    EXPECT_EQ(run.output, kNoTables + "-" + kHelp + "-" + kHelp + "---" + kHelp + "-" + kHelp +
                              "-" + kHelp + "-");
}

// ---- w and n: tables, position and stop files ------------------------------

const std::string kTablesLoaded = "Normal.tbl para set ok !\n";
const std::string kPositionsLoaded = "posi.asc,stop.asc set ok !\n";

// A table file: 32 header bytes, then 1728 little-endian words from `seed`.
std::string TableFile(uint16_t seed) {
    std::string file(32, '\x5A');
    for (uint32_t i = 0; i < 1728; ++i) {
        const auto word = static_cast<uint16_t>(seed + i * 0x0103u);
        file += static_cast<char>(word & 0xFF);
        file += static_cast<char>(word >> 8);
    }
    return file;
}

const char kPosi[] = "# columns\n3\n100\n200\n300\n# bar\n1 50 60 40\n5 -2\n";
const char kStop[] = "7\n8\n9\n";

// The position block of kPosi and kStop as the d command shows it.
std::vector<uint16_t> PositionBlock() {
    std::vector<uint16_t> block(51, 0);
    block[0] = 3;
    block[1] = 105;
    block[2] = 205;
    block[3] = 305;
    block[42] = 1;
    block[43] = 55;
    block[44] = 58;
    block[45] = 40;
    block[48] = 7;
    block[49] = 8;
    block[50] = 9;
    return block;
}

class LoadTest : public ConsoleTest {
  protected:
    void WriteFiles(const char* posi = kPosi, const char* stop = kStop) {
        red_ = TableFile(0x1234);
        blue_ = TableFile(0x8001);
        WriteText(work_dir() / "red.tbl", red_);
        WriteText(work_dir() / "blue.tbl", blue_);
        if (posi != nullptr) WriteText(work_dir() / "posi.asc", posi);
        if (stop != nullptr) WriteText(work_dir() / "stop.asc", stop);
    }

    // Each DSP word holds its table entry's two bytes in file order on the wire.
    void ExpectTablesLoaded() {
        const std::vector<uint16_t> raw = ReadRaw(0x6B00, 3456);
        const std::string both = red_.substr(32) + blue_.substr(32);
        ASSERT_EQ(raw.size() * 2, both.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const auto first = static_cast<uint8_t>(both[2 * i]);
            const auto second = static_cast<uint8_t>(both[2 * i + 1]);
            ASSERT_EQ(raw[i], first << 8 | second) << "word " << i;
        }
        // The same words as d shows them: the file's little-endian entries.
        EXPECT_EQ(ReadWords(0x6B00, 1)[0], 0x1234);
        EXPECT_EQ(ReadWords(0x71C0, 1)[0], 0x8001);
        EXPECT_EQ(ReadWords(0x787F, 1)[0], static_cast<uint16_t>(0x8001 + 1727 * 0x0103));
    }

    std::string red_;
    std::string blue_;
};

TEST_F(LoadTest, StartUpLoadsTablesAndPositionBlock) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x7880, PatternWords(0x7880, 0x20));
    WriteWords(0x7FA0, PatternWords(0x7FA0, 96));
    WriteFiles();
    const ConsoleRun run = RunConsole("W\n");
    EXPECT_EQ(run.output, kOpen + kTablesLoaded + kPositionsLoaded + "-" + kTablesLoaded +
                              kPositionsLoaded + "-");
    ExpectTablesLoaded();
    EXPECT_EQ(ReadWords(0x7880, 0x20), PatternWords(0x7880, 0x20));
    const std::vector<uint16_t> raw_block = ReadRaw(0x7FA0, 51);
    EXPECT_EQ(raw_block[0], 0x0300) << "the block travels byte-swapped like the tables";
    EXPECT_EQ(ReadWords(0x7FA0, 51), PositionBlock());
    EXPECT_EQ(ReadWords(0x7FA0 + 51, 96 - 51), PatternWords(0x7FA0 + 51, 96 - 51));
}

TEST_F(LoadTest, NReplacesThePositionsAndKeepsTheStopValues) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteFiles();
    const ConsoleRun without = RunConsole("n\nq\n");
    EXPECT_EQ(without.output,
              kOpen + kTablesLoaded + kPositionsLoaded + "-posi1.asc not found!\n-");

    // One column where posi.asc had three: the other two stay as w left them.
    WriteText(work_dir() / "posi1.asc", "#alternate\n1\n10\n2 20 30 40\n1 1\n");
    const ConsoleRun run = RunConsole("n\nq\n");
    EXPECT_EQ(run.output,
              kOpen + kTablesLoaded + kPositionsLoaded + "-2 21 31 40 posi1.asc set ok !\n-");
    std::vector<uint16_t> expected = PositionBlock();
    expected[0] = 1;
    expected[1] = 11;
    expected[42] = 2;
    expected[43] = 21;
    expected[44] = 31;
    expected[45] = 40;
    EXPECT_EQ(ReadWords(0x7FA0, 51), expected);
}

TEST_F(LoadTest, StopFileWithoutFinalLineBreakKeepsItsLastValue) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x7FA0, PatternWords(0x7FA0, 96));
    WriteFiles(kPosi, "7\n8\n9");
    const ConsoleRun run = RunConsole("q\n");
    EXPECT_EQ(run.output, kOpen + kTablesLoaded + kPositionsLoaded + "-");
    EXPECT_EQ(ReadWords(0x7FA0, 51), PositionBlock());
    EXPECT_EQ(ReadWords(0x7FA0 + 51, 96 - 51), PatternWords(0x7FA0 + 51, 96 - 51));
}

TEST_F(LoadTest, FortyEightStopValuesReachTheEndOfMemory) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x8000, {0xCAFE});
    std::string stop;
    std::vector<uint16_t> values;
    for (uint16_t i = 0; i < 48; ++i) {
        stop += std::to_string(1000 + i) + "\n";
        values.push_back(static_cast<uint16_t>(1000 + i));
    }
    WriteFiles(kPosi, stop.c_str());
    const ConsoleRun run = RunConsole("q\n");
    EXPECT_EQ(run.output, kOpen + kTablesLoaded + kPositionsLoaded + "-");
    EXPECT_EQ(ReadWords(0x7FD0, 48), values);
    EXPECT_EQ(ReadWords(0x8000, 1)[0], 0xCAFE);
}

struct RefusedCase {
    const char* name;
    const char* posi;  // nullptr: no such file
    const char* stop;
    bool blue;
    const char* output;  // after "Open Device...\n"
};

const RefusedCase kRefusedCases[] = {
    {"NoBlueTbl", kPosi, kStop, false, "blue.tbl not found\n-"},
    {"NoPosi", nullptr, kStop, true, "Normal.tbl para set ok !\nposi.asc not found!\n-"},
    {"NoStop", kPosi, nullptr, true, "Normal.tbl para set ok !\nstop.asc not found!\n-"},
    {"FortyTwoColumns", "42\n", kStop, true,
     "Normal.tbl para set ok !\nposi.asc: line 1: 42 column positions, at most 41!\n-"},
    {"BlankPosition", "2\n10\n\n1 2 3 4\n0 0\n", kStop, true,
     "Normal.tbl para set ok !\nposi.asc: line 3 is not a number!\n-"},
    {"ShortBarLine", "1\n10\n1 2 3\n0 0\n", kStop, true,
     "Normal.tbl para set ok !\nposi.asc: line 3 needs 4 numbers!\n-"},
    {"NonNumericStop", kPosi, "7\nx\n9\n", true,
     "Normal.tbl para set ok !\nstop.asc: line 2 is not a number!\n-"},
    {"BlankStop", kPosi, "7\n\n9\n", true,
     "Normal.tbl para set ok !\nstop.asc: line 2 is not a number!\n-"},
    {"FortyNineStops", kPosi,
     "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n"
     "25\n26\n27\n28\n29\n30\n31\n32\n33\n34\n35\n36\n37\n38\n39\n40\n41\n42\n43\n44\n45\n46\n"
     "47\n48\n49\n",
     true, "Normal.tbl para set ok !\nstop.asc: more than 48 values!\n-"},
};

void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedFileTest : public LoadTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFileTest, NothingOfTheFileReachesTheDsp) {
    const RefusedCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartSim());
    WriteWords(0x6B00, PatternWords(0x6B00, 8));
    WriteWords(0x7FA0, PatternWords(0x7FA0, 96));
    WriteFiles(c.posi, c.stop);
    if (!c.blue) std::filesystem::remove(work_dir() / "blue.tbl");
    const ConsoleRun run = RunConsole("q\n");
    EXPECT_EQ(run.output, kOpen + c.output);
    EXPECT_EQ(ReadWords(0x7FA0, 96), PatternWords(0x7FA0, 96));
    if (c.blue) {
        ExpectTablesLoaded();
    } else {
        EXPECT_EQ(ReadWords(0x6B00, 8), PatternWords(0x6B00, 8));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFileTest, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& test_case) { return std::string(test_case.param.name); });

// ---- g: scanning a sheet --------------------------------------------------

// Raw page data: `lines` lines of 1728 bytes.
std::string SheetData(int lines, int seed) {
    std::string data;
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < 1728; ++x) data += static_cast<char>((x * 7 + y * 3 + seed) & 0xFF);
    }
    return data;
}

TEST_F(ConsoleTest, EachSheetBecomesTheNextPageFile) {
    const std::string first = SheetData(40, 1);
    const std::string second = SheetData(25, 2);
    WriteText(root_ / "a.prt", first);
    WriteText(root_ / "b.prt", second);
    ASSERT_NO_FATAL_FAILURE(
        StartSim({"--sheet", (root_ / "a.prt").string(), "--sheet", (root_ / "b.prt").string()}));
    // The third g finds no paper: it times out and runs b on the last file.
    const ConsoleRun run = RunConsole("g\nG\ng\nq\n");
    EXPECT_EQ(run.output, kNoTables +
                              "-Scan Finished! Print File located in:000.prt\nb:[000.prt]\n"
                              "-Scan Finished! Print File located in:001.prt\nb:[001.prt]\n"
                              "-Wait TimeOUT! Get Print File Failed!\nb:[001.prt]\n-");
    EXPECT_GE(run.elapsed, std::chrono::milliseconds(6000));
    // The last three lines of a sheet are not part of its page. Compared
    // whole, but not printed: the pages are binary.
    const std::string saved_first = ReadText(work_dir() / "000.prt");
    const std::string saved_second = ReadText(work_dir() / "001.prt");
    EXPECT_EQ(saved_first.size(), (40u - 3u) * 1728u);
    EXPECT_TRUE(saved_first == first.substr(0, saved_first.size()));
    EXPECT_EQ(saved_second.size(), (25u - 3u) * 1728u);
    EXPECT_TRUE(saved_second == second.substr(0, saved_second.size()));
    EXPECT_FALSE(std::filesystem::exists(work_dir() / "002.prt"));
}

TEST_F(ConsoleTest, WithoutPaperGTimesOutAndStillRunsB) {
    ASSERT_NO_FATAL_FAILURE(StartSim({"--no-paper"}));
    const ConsoleRun run = RunConsole("g\n");
    EXPECT_EQ(run.output, kNoTables + "-Wait TimeOUT! Get Print File Failed!\nb:[]\n-");
    EXPECT_GE(run.elapsed, std::chrono::milliseconds(6000));
    EXPECT_FALSE(std::filesystem::exists(work_dir() / "000.prt"));
}

}  // namespace
}  // namespace dspmon::test
