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
    StartSim();
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
    StartSim();
    const ConsoleRun run = RunConsole("");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, kNoTables + "-");
    EXPECT_NE(Log().find("Zerik_CloseDevice\n"), std::string::npos);
}

TEST_F(ConsoleTest, DumpPagesMasksAndBlanks) {
    StartSim();
    WriteWords(0x0000, PatternWords(0x0000, 0x100));
    WriteWords(0x1000, PatternWords(0x1000, 0x80));
    WriteWords(0x7F80, PatternWords(0x7F80, 0x80));
    auto dump = [](uint16_t base, uint16_t first) {
        return FormatDump(0, base, first, PatternWords(base, kDumpWords));
    };
    // Bare d pages on from 0; d 7ffa starts its lines at 7FF0 and blanks ten
    // words; d 9000 is masked to 1000; a bare d after 7F80 wraps to 0.
    const ConsoleRun run = RunConsole("d\nd 0\nd 7ffa\nd 9000\nd 7f80\nd\nd 0:10\n");
    EXPECT_EQ(run.output, kNoTables + "-" + dump(0x0080, 0x0080) + "-" + dump(0, 0) + "-" +
                              dump(0x7FF0, 0x7FFA) + "-" + dump(0x1000, 0x1000) + "-" +
                              dump(0x7F80, 0x7F80) + "-" + dump(0, 0) + "-" + dump(0, 0) + "-");
    EXPECT_NE(run.output.find("\n7FF0:" + std::string(36, ' ') + "-" + std::string(8, ' ') + " "),
              std::string::npos);
}

TEST_F(ConsoleTest, EnterWritesValuesAndRefusesBadArguments) {
    StartSim();
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
    StartSim();
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
    StartSim();
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

TEST_F(ConsoleTest, HelpForOtherLinesAndNothingForEmptyOnes) {
    StartSim();
    const ConsoleRun run = RunConsole("D\nE 100 1\n\n\nO\nx\n" + std::string(256, 'o') + "\nq\n");
    EXPECT_EQ(run.output, kNoTables + "-" + kHelp + "-" + kHelp + "---" + kHelp + "-" + kHelp +
                              "-" + kHelp + "-");
}

}  // namespace
}  // namespace dspmon::test
