// The command exchange and the seven memory exports against scripted
// exchange tables: the bytes the library must send and the replies the
// device gives.
#include <array>
#include <chrono>
#include <functional>
#include <numeric>

#include "link_fixture.h"
#include "scanner.h"
#include "texts.h"

namespace zerik::test {
namespace {

using Call = std::function<int32_t(DeviceContext*)>;

struct ExchangeCase {
    const char* name;
    Call call;
    std::vector<Bytes> replies;  // one reply per packet
    std::vector<Bytes> sent;     // the packets the library must write
    int32_t result;
    std::function<void()> check;  // what the call left in its output, if anything
};

// Outputs of the calls, checked after each case.
std::array<uint8_t, 64> g_bytes;
std::array<uint16_t, 32> g_words;

Bytes Counting(uint8_t first, std::size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A reply of 64 bytes with `data` from offset `at`.
Bytes ReplyWith(uint8_t code, std::size_t at, const Bytes& data) {
    Bytes reply = Msg({code});
    std::copy(data.begin(), data.end(), reply.begin() + static_cast<std::ptrdiff_t>(at));
    return reply;
}

const Bytes kFiftySevenBytes = Counting(0x10, 57);

std::vector<ExchangeCase> ExchangeCases() {
    std::vector<ExchangeCase> cases;
    cases.push_back(
        {"ReadAddressTwoBytes",
         [](DeviceContext* d) { return Zerik_ReadAddress(d, 0xC005, 2, g_bytes.data()); },
         {ReplyWith(0x01, 6, {0xAA, 0xBB, 0xCC})},
         {{0x01, 0x00, 0x03, 0x05, 0xC0, 0x02}},
         kOk,
         [] {
             EXPECT_EQ(g_bytes[0], 0xAA);
             EXPECT_EQ(g_bytes[1], 0xBB);
             EXPECT_EQ(g_bytes[2], 0x00) << "only count bytes are copied";
         }});
    cases.push_back(
        {"ReadAddressUsesLowBitsOnly",
         [](DeviceContext* d) { return Zerik_ReadAddress(d, 0x1C005, 0x101, g_bytes.data()); },
         {ReplyWith(0x01, 6, {0x5A})},
         {{0x01, 0x00, 0x03, 0x05, 0xC0, 0x01}},
         kOk,
         [] { EXPECT_EQ(g_bytes[0], 0x5A); }});
    cases.push_back(
        {"ReadAddressFiftyEightBytes",
         [](DeviceContext* d) { return Zerik_ReadAddress(d, 0x0000, 58, g_bytes.data()); },
         {ReplyWith(0x01, 6, Counting(1, 58))},
         {{0x01, 0x00, 0x03, 0x00, 0x00, 58}},
         kOk,
         [] {
             EXPECT_EQ(g_bytes[0], 1);
             EXPECT_EQ(g_bytes[57], 58);
         }});
    cases.push_back(
        {"ReadAddressCountZeroStillAsks",
         [](DeviceContext* d) { return Zerik_ReadAddress(d, 0xC000, 0, g_bytes.data()); },
         {ReplyWith(0x01, 6, {0x77})},
         {{0x01, 0x00, 0x03, 0x00, 0xC0, 0x00}},
         kOk,
         [] { EXPECT_EQ(g_bytes[0], 0x00); }});
    cases.push_back({"WriteAddressEchoed",
                     [](DeviceContext* d) {
                         const uint8_t data[] = {0x03, 0x04};
                         return Zerik_WriteAddress(d, 0xC019, 2, data);
                     },
                     {ReplyWith(0x02, 6, {0x03, 0x04})},
                     {{0x02, 0x00, 0x05, 0x19, 0xC0, 0x02, 0x03, 0x04}},
                     kOk,
                     nullptr});
    cases.push_back({"WriteAddressEchoDiffers",
                     [](DeviceContext* d) {
                         const uint8_t data[] = {0x03, 0x04};
                         return Zerik_WriteAddress(d, 0xC019, 2, data);
                     },
                     {ReplyWith(0x02, 6, {0x03, 0x05})},
                     {{0x02, 0x00, 0x05, 0x19, 0xC0, 0x02, 0x03, 0x04}},
                     kDeviceFailure,
                     nullptr});
    cases.push_back({"WriteAddressFiftyEightBytes",
                     [](DeviceContext* d) {
                         const Bytes data = Counting(0x20, 58);
                         return Zerik_WriteAddress(d, 0x1234, 58, data.data());
                     },
                     {ReplyWith(0x02, 6, Counting(0x20, 58))},
                     {Concat({0x02, 0x00, 61, 0x34, 0x12, 58}, Counting(0x20, 58))},
                     kOk,
                     nullptr});
    cases.push_back(
        {"ReadDspWordsHighByteFirst",
         [](DeviceContext* d) { return Zerik_ReadDsp(d, 1, 0x7F80, 2, g_words.data()); },
         {ReplyWith(0x05, 7, {0x12, 0x34, 0x56, 0x78})},
         {{0x05, 0x00, 0x04, 0x80, 0x7F, 0x02, 0x01}},
         kOk,
         [] {
             EXPECT_EQ(g_words[0], 0x1234);
             EXPECT_EQ(g_words[1], 0x5678);
         }});
    cases.push_back(
        {"ReadDspTwentyEightWords",
         [](DeviceContext* d) { return Zerik_ReadDsp(d, 0, 0x0100, 28, g_words.data()); },
         {ReplyWith(0x05, 7, Counting(0, 56))},
         {{0x05, 0x00, 0x04, 0x00, 0x01, 28, 0x00}},
         kOk,
         [] {
             EXPECT_EQ(g_words[0], 0x0001);
             EXPECT_EQ(g_words[27], 0x3637);
         }});
    cases.push_back({"WriteDspWordHighByteFirst",
                     [](DeviceContext* d) {
                         const uint16_t word = 0x1234;
                         return Zerik_WriteDsp(d, 1, 0x4000, 1, &word);
                     },
                     {Msg({0x06})},
                     {{0x06, 0x00, 0x06, 0x00, 0x40, 0x01, 0x01, 0x12, 0x34}},
                     kOk,
                     nullptr});
    cases.push_back({"WriteDspTwentyEightWordsIsOnePacketOf63Bytes",
                     [](DeviceContext* d) {
                         std::array<uint16_t, 28> words{};
                         for (uint16_t i = 0; i < 28; ++i)
                             words[i] = static_cast<uint16_t>(0x0100 * i + i);
                         return Zerik_WriteDsp(d, 0, 0x0010, 28, words.data());
                     },
                     {Msg({0x06})},
                     {[] {
                         Bytes packet{0x06, 0x00, 60, 0x10, 0x00, 28, 0x00};
                         for (uint8_t i = 0; i < 28; ++i) {
                             packet.push_back(i);
                             packet.push_back(i);
                         }
                         return packet;
                     }()},
                     kOk,
                     nullptr});
    cases.push_back({"WriteDspUshortLowByteFirst",
                     [](DeviceContext* d) { return Zerik_WriteDspUshort(d, 0, 0x60, 0x1234); },
                     {Msg({0x06})},
                     {{0x06, 0x00, 0x06, 0x60, 0x00, 0x01, 0x00, 0x34, 0x12}},
                     kOk,
                     nullptr});
    cases.push_back(
        {"ReadDspUshortSwapsTheWordRead",
         [](DeviceContext* d) { return Zerik_ReadDspUshort(d, 1, 0x7F82, g_words.data()); },
         {ReplyWith(0x05, 7, {0x34, 0x12})},
         {{0x05, 0x00, 0x04, 0x82, 0x7F, 0x01, 0x01}},
         kOk,
         [] { EXPECT_EQ(g_words[0], 0x1234); }});
    cases.push_back({"WriteDspBufferFiftySevenBytesInTwoPieces",
                     [](DeviceContext* d) {
                         return Zerik_WriteDspBuffer(d, 1, 0x8000, 57, kFiftySevenBytes.data());
                     },
                     {Msg({0x06}), Msg({0x06})},
                     {[] {
                          // Each byte pair goes out second byte first.
                          Bytes packet{0x06, 0x00, 60, 0x00, 0x80, 28, 0x01};
                          for (std::size_t i = 0; i < 56; i += 2) {
                              packet.push_back(kFiftySevenBytes[i + 1]);
                              packet.push_back(kFiftySevenBytes[i]);
                          }
                          return packet;
                      }(),
                      // The odd last byte is padded with 0, not read from beyond the count.
                      Bytes{0x06, 0x00, 0x06, 0x1C, 0x80, 0x01, 0x01, 0x00, kFiftySevenBytes[56]}},
                     kOk,
                     nullptr});
    cases.push_back({"WriteDspBufferStopsAtFirstFailure",
                     [](DeviceContext* d) {
                         const Bytes data = Counting(0, 120);
                         return Zerik_WriteDspBuffer(d, 0, 0x0000, 120, data.data());
                     },
                     {{}},  // the first piece goes unanswered
                     {[] {
                         Bytes packet{0x06, 0x00, 60, 0x00, 0x00, 28, 0x00};
                         for (uint8_t i = 0; i < 56; i += 2) {
                             packet.push_back(static_cast<uint8_t>(i + 1));
                             packet.push_back(i);
                         }
                         return packet;
                     }()},
                     kNoReply,
                     nullptr});
    return cases;
}

class ExchangeTable : public LinkFixture, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ExchangeTable, SendsTheBytesAndTakesTheReply) {
    const ExchangeCase c = ExchangeCases()[GetParam()];
    SCOPED_TRACE(c.name);
    g_bytes.fill(0);
    g_words.fill(0);
    ScriptedDevice& device = LinkScripted();
    for (const Bytes& reply : c.replies) {
        device.Answer(reply.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{reply});
    }
    EXPECT_EQ(c.call(dev_), c.result);
    EXPECT_EQ(device.Packets(), c.sent);
    if (c.check) c.check();
}

INSTANTIATE_TEST_SUITE_P(MemoryExports, ExchangeTable,
                         ::testing::Range<std::size_t>(0, ExchangeCases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::string(ExchangeCases()[param.param].name);
                         });

// The seven exports, called with arguments that pass their own checks.
struct ExportCall {
    const char* name;
    Call call;
    bool logs_timeout;
};

std::vector<ExportCall> SevenExports() {
    static uint8_t bytes[64];
    static uint16_t words[32];
    return {
        {"ReadAddress", [](DeviceContext* d) { return Zerik_ReadAddress(d, 0xC000, 2, bytes); },
         true},
        {"WriteAddress", [](DeviceContext* d) { return Zerik_WriteAddress(d, 0xC000, 2, bytes); },
         false},
        {"ReadDsp", [](DeviceContext* d) { return Zerik_ReadDsp(d, 0, 0x100, 2, words); }, true},
        {"WriteDsp", [](DeviceContext* d) { return Zerik_WriteDsp(d, 0, 0x100, 2, words); }, true},
        {"WriteDspBuffer",
         [](DeviceContext* d) { return Zerik_WriteDspBuffer(d, 0, 0x100, 4, bytes); }, true},
        {"WriteDspUshort", [](DeviceContext* d) { return Zerik_WriteDspUshort(d, 0, 0x100, 7); },
         true},
        {"ReadDspUshort", [](DeviceContext* d) { return Zerik_ReadDspUshort(d, 0, 0x100, words); },
         true},
    };
}

class EveryExport : public LinkFixture, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(EveryExport, NullContextIsMinusOne) {
    EXPECT_EQ(SevenExports()[GetParam()].call(nullptr), kBadArgument);
}

TEST_P(EveryExport, NotConnectedIsMinusThreeAndSendsNothing) {
    ScriptedDevice& device = LinkScripted();
    dev_->Connected.store(0);
    EXPECT_EQ(SevenExports()[GetParam()].call(dev_), kNotConnected);
    EXPECT_TRUE(device.Packets().empty());
}

TEST_P(EveryExport, NoDeviceHandleIsMinusHundred) {
    LinkScripted();
    dev_->DropDriver();
    EXPECT_EQ(SevenExports()[GetParam()].call(dev_), kDeviceFailure);
}

TEST_P(EveryExport, SilentDeviceIsMinusTwoWithOneTimeoutLine) {
    const ExportCall e = SevenExports()[GetParam()];
    ScriptedDevice& device = LinkScripted();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.call(dev_), kNoReply);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
    EXPECT_EQ(device.Packets().size(), 1u);
    EXPECT_EQ(CapturedLog::Instance().Count(Gbk("WaitForSingleObject超时\n")),
              e.logs_timeout ? 1 : 0);
    EXPECT_EQ(CapturedLog::Instance().Lines().size(), e.logs_timeout ? 2u : 1u)
        << "the receiver's start line and at most the time-out line";
}

INSTANTIATE_TEST_SUITE_P(MemoryExports, EveryExport, ::testing::Range<std::size_t>(0, 7),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::string(SevenExports()[param.param].name);
                         });

// Argument checks: they come after the connected check, except the DSP word
// count, which comes first; nothing is sent.
struct ArgumentCase {
    const char* name;
    Call call;
    bool connected;
};

TEST_F(LinkFixture, ArgumentChecksAreMinusOneAndSendNothing) {
    ScriptedDevice& device = LinkScripted();
    uint8_t bytes[64] = {};
    uint16_t words[32] = {};
    const std::vector<ArgumentCase> cases = {
        {"ReadDsp 29 words", [&](DeviceContext* d) { return Zerik_ReadDsp(d, 0, 0, 29, words); },
         true},
        {"WriteDsp 29 words", [&](DeviceContext* d) { return Zerik_WriteDsp(d, 0, 0, 29, words); },
         true},
        {"ReadDsp 29 words unconnected",
         [&](DeviceContext* d) { return Zerik_ReadDsp(d, 0, 0, 29, words); }, false},
        {"WriteDsp 29 words unconnected",
         [&](DeviceContext* d) { return Zerik_WriteDsp(d, 0, 0, 29, words); }, false},
        {"ReadAddress 59 bytes",
         [&](DeviceContext* d) { return Zerik_ReadAddress(d, 0, 59, bytes); }, true},
        {"WriteAddress 59 bytes",
         [&](DeviceContext* d) { return Zerik_WriteAddress(d, 0, 59, bytes); }, true},
        {"ReadAddress null output",
         [&](DeviceContext* d) { return Zerik_ReadAddress(d, 0, 1, nullptr); }, true},
        {"WriteAddress null data",
         [&](DeviceContext* d) { return Zerik_WriteAddress(d, 0, 1, nullptr); }, true},
        {"ReadDsp null output",
         [&](DeviceContext* d) { return Zerik_ReadDsp(d, 0, 0, 1, nullptr); }, true},
        {"WriteDsp null words",
         [&](DeviceContext* d) { return Zerik_WriteDsp(d, 0, 0, 1, nullptr); }, true},
        {"WriteDspBuffer null bytes",
         [&](DeviceContext* d) { return Zerik_WriteDspBuffer(d, 0, 0, 2, nullptr); }, true},
        {"ReadDspUshort null output",
         [&](DeviceContext* d) { return Zerik_ReadDspUshort(d, 0, 0, nullptr); }, true},
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        dev_->Connected.store(c.connected ? 1 : 0);
        EXPECT_EQ(c.call(dev_), kBadArgument);
    }
    EXPECT_TRUE(device.Packets().empty());
}

TEST_F(LinkFixture, NotConnectedComesBeforeOtherArgumentChecks) {
    LinkScripted();
    dev_->Connected.store(0);
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0, 59, nullptr), kNotConnected);
    EXPECT_EQ(Zerik_ReadDspUshort(dev_, 0, 0, nullptr), kNotConnected);
}

TEST_F(LinkFixture, WriteDspBufferOfNothingSendsNothing) {
    ScriptedDevice& device = LinkScripted();
    EXPECT_EQ(Zerik_WriteDspBuffer(dev_, 0, 0x100, 0, nullptr), kOk);
    EXPECT_TRUE(device.Packets().empty());
}

// A reply that comes after its exchange gave up is not the reply of the next one.
TEST_F(LinkFixture, LateReplyIsNotTakenByTheNextExchange) {
    ScriptedDevice& device = LinkScripted();
    device.Answer({});  // the first reply is held back ...
    device.Answer({ReplyWith(0x01, 6, {0x22})});
    uint8_t first = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC000, 1, &first), kNoReply);
    // ... and arrives now, when no exchange waits.
    device.host()->Broadcast(ReplyWith(0x01, 6, {0x11}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint8_t second = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC001, 1, &second), kOk);
    EXPECT_EQ(second, 0x22);
}

// The same against the simulated scanner, whose reply really comes late.
TEST_F(LinkFixture, LateReplyFromTheScannerIsNotTakenByTheNextExchange) {
    auto scanner = std::make_unique<sim::Scanner>();
    sim::Scanner* raw = scanner.get();
    Link(std::move(scanner));
    EXPECT_EQ(raw->Control("late 1300"), "late 1300");
    uint8_t line_length = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC020, 1, &line_length), kNoReply);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the late reply is in
    uint8_t leds = 0;
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC005, 1, &leds), kOk);
    EXPECT_EQ(leds, raw->register_byte(0xC005));
    EXPECT_NE(leds, raw->register_byte(0xC020));
}

// A report right behind a reply must not spoil the reply before it is taken.
TEST_F(LinkFixture, ReportBehindTheReplyLeavesTheReplyIntact) {
    ScriptedDevice& device = LinkScripted();
    Bytes status = Msg({0xF1});
    std::fill(status.begin() + 1, status.end(), 0xEE);
    constexpr int kRounds = 30;
    for (int i = 0; i < kRounds; ++i) {
        device.Answer({ReplyWith(0x01, 6, {static_cast<uint8_t>(i), 0x5A}), status});
    }
    for (int i = 0; i < kRounds; ++i) {
        uint8_t out[2] = {};
        ASSERT_EQ(Zerik_ReadAddress(dev_, 0xC000, 2, out), kOk);
        EXPECT_EQ(out[0], i);
        EXPECT_EQ(out[1], 0x5A);
    }
}

// Register and DSP memory round trips through the simulated scanner.
TEST_F(LinkFixture, ScannerKeepsRegistersAndDspWords) {
    auto scanner = std::make_unique<sim::Scanner>();
    sim::Scanner* raw = scanner.get();
    Link(std::move(scanner));

    const uint8_t timing[] = {0x34, 0x12};
    EXPECT_EQ(Zerik_WriteAddress(dev_, 0xC000, 2, timing), kOk);
    uint8_t back[2] = {};
    EXPECT_EQ(Zerik_ReadAddress(dev_, 0xC000, 2, back), kOk);
    EXPECT_EQ(back[0], 0x34);
    EXPECT_EQ(back[1], 0x12);

    EXPECT_EQ(Zerik_WriteDspUshort(dev_, 1, 0x7F90, 0x1234), kOk);
    EXPECT_EQ(raw->dsp_word(1, 0x7F90), 0x1234);
    uint16_t value = 0;
    EXPECT_EQ(Zerik_ReadDspUshort(dev_, 1, 0x7F90, &value), kOk);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(Zerik_ReadDsp(dev_, 1, 0x7F90, 1, &value), kOk);
    EXPECT_EQ(value, 0x3412) << "read back byte-swapped with Zerik_ReadDsp";

    // A byte string holds big-endian words, as a firmware file does; the odd
    // last byte is the high byte of a word padded with 0.
    const uint8_t image[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(Zerik_WriteDspBuffer(dev_, 0, 0x2000, 5, image), kOk);
    EXPECT_EQ(raw->dsp_word(0, 0x2000), 0x1234);
    EXPECT_EQ(raw->dsp_word(0, 0x2001), 0x5678);
    EXPECT_EQ(raw->dsp_word(0, 0x2002), 0x9A00);
}

TEST_F(LinkFixture, RunningDspHeartbeatMovesAndStoppedOneStands) {
    auto scanner = std::make_unique<sim::Scanner>();
    std::string error;
    ASSERT_TRUE(scanner->Configure({"--dsp", "stopped1"}, &error)) << error;
    Link(std::move(scanner));
    uint16_t first[2] = {};
    uint16_t second[2] = {};
    for (int dsp = 0; dsp < 2; ++dsp) {
        ASSERT_EQ(Zerik_ReadDspUshort(dev_, dsp, 0x7F82, &first[dsp]), kOk);
    }
    for (int dsp = 0; dsp < 2; ++dsp) {
        ASSERT_EQ(Zerik_ReadDspUshort(dev_, dsp, 0x7F82, &second[dsp]), kOk);
    }
    EXPECT_NE(first[0], second[0]);
    EXPECT_EQ(first[1], second[1]);
}

}  // namespace
}  // namespace zerik::test
