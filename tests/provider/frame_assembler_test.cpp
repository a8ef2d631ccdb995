#include "provider/frame_assembler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

using Packets = std::vector<std::string>;

std::string Binary(const std::string& payload, int length = -1) {
  std::string frame = "\x02";
  frame += static_cast<char>(length < 0 ? payload.size() : static_cast<std::size_t>(length));
  frame += '\x14';
  frame += payload;
  frame += "\xA5\x5A";  // the trailer, skipped unread
  return frame;
}

using Clock = CFrameAssembler::Clock;
using std::chrono::milliseconds;

// Bytes received at a time: at the same moment unless the test says otherwise.
Packets Feed(CFrameAssembler& assembler, const std::string& bytes, Clock::time_point at = {}) {
  Packets packets;
  assembler.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), at,
                 [&](const std::uint8_t* packet, std::size_t length) {
                   packets.emplace_back(reinterpret_cast<const char*>(packet), length);
                 });
  return packets;
}

Packets FeedAll(const std::string& bytes) {
  CFrameAssembler assembler;
  return Feed(assembler, bytes);
}

struct FramingCase {
  const char* name;
  std::string input;
  Packets expected;
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, CutsTheStreamIntoPackets) {
  EXPECT_EQ(FeedAll(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Framing,
    ::testing::Values(
        FramingCase{"OkBetweenLineEnds", "\r\nOK\r\n", {"OK"}},
        FramingCase{"OkNeedsItsCr", "OK\n", {}},
        FramingCase{"BrokenOk", "OX", {}},
        FramingCase{"ErrorKnownByItsThirdByte", "ERRR", {"ERROR", "ERROR"}},
        FramingCase{"EchoCutByAControlByte", "ATD12\x01" "34\r", {}},
        FramingCase{"NotAnEcho", "AX\r", {}},
        FramingCase{"LongestEcho", "AT" + std::string(252, 'x') + "\r", {"AT" + std::string(252, 'x')}},
        FramingCase{"TooLongAnEcho", "AT" + std::string(253, 'x') + "\r", {}},
        FramingCase{"LengthZeroTakesOneByte", Binary("L", 0), {"L"}},
        FramingCase{"LongestPayload", Binary(std::string(255, 'G')), {std::string(255, 'G')}},
        FramingCase{"WrongThirdByteAbandonsThePacket", "\x02\x03\x15S10", {}},
        FramingCase{"AbandonedPacketIsScannedAsInput", "\x02\x03\x15OK\r", {"OK"}},
        FramingCase{"ByteEndingAPatternIsNotAStart", "OOK\r", {}},
        // Noise that looks like the start of a long frame takes nothing with it
        // when its type byte cannot start a packet; that byte may start one.
        FramingCase{"UnknownTypeIsDroppedAtOnce", "\x02\xFF\x14ZZ" + Binary("C\x06\xFF\xFF") + "OK\r",
                    {"C\x06\xFF\xFF", "OK"}},
        FramingCase{"RejectedTypeByteStartsThePacket", "\x02\xFF\x14" + Binary("S11"), {"S11"}},
        FramingCase{"EveryPacketTypeIsKept", Binary("A1:2") + Binary("C\xFF\xFF\xFF") + Binary("G1") +
                                                   Binary("L111") + Binary("S11") + Binary("V1"),
                    {"A1:2", "C\xFF\xFF\xFF", "G1", "L111", "S11", "V1"}},
        // 0x02 is a slot state and a length as well as STX: inside a frame it is data.
        FramingCase{"StxInsideAFrameIsData", Binary("G1") + Binary("C\x02\x02\x02"), {"G1", "C\x02\x02\x02"}},
        FramingCase{"TrailerIsSkippedNotRead", Binary("V12") + Binary("S11"), {"V12", "S11"}},
        FramingCase{"ReplyAfterAPacket", "ATB\rOK\r\n" + Binary("C\xFF\xFF\xFF"), {"ATB", "OK", "C\xFF\xFF\xFF"}}),
    [](const ::testing::TestParamInfo<FramingCase>& p) { return std::string(p.param.name); });

TEST(FrameAssembler, APacketInPiecesIsTheSamePacket) {
  const std::string stream = "ATD123\rOK\r\n" + Binary("C\x03\xFF\xFF") + "ERROR\r\n" + Binary("A12:34") +
                             Binary("S11") + "OK\r";
  const Packets whole = FeedAll(stream);
  ASSERT_EQ(whole.size(), 7u);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    CFrameAssembler assembler;
    Packets pieces = Feed(assembler, stream.substr(0, cut));
    const Packets rest = Feed(assembler, stream.substr(cut));
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    EXPECT_EQ(pieces, whole) << "cut at " << cut;
  }
}

// Reads as they come off the line: milliseconds since the first, and the bytes.
struct TimedCase {
  const char* name;
  std::vector<std::pair<int, std::string>> reads;
  Packets expected;
};

class TimedFraming : public ::testing::TestWithParam<TimedCase> {};

TEST_P(TimedFraming, SilenceAbandonsOnlyWhatWasBegun) {
  CFrameAssembler assembler;
  const Clock::time_point start = Clock::now();
  Packets packets;
  for (const auto& [ms, bytes] : GetParam().reads) {
    const Packets out = Feed(assembler, bytes, start + milliseconds(ms));
    packets.insert(packets.end(), out.begin(), out.end());
  }
  EXPECT_EQ(packets, GetParam().expected);
}

constexpr int kPause = static_cast<int>(CFrameAssembler::kAbandonPause.count());
const std::string kCause = Binary("S11");

INSTANTIATE_TEST_SUITE_P(
    Pauses, TimedFraming,
    ::testing::Values(
        // A frame of a known type announcing 255 bytes swallows what comes soon after it...
        TimedCase{"LongFrameTakesWhatFollowsSoon", {{0, "\x02\xFF\x14" "C"}, {kPause, kCause}}, {}},
        // ...and is given up once the line has been silent for longer.
        TimedCase{"LongFrameIsAbandonedAfterSilence", {{0, "\x02\xFF\x14" "C"}, {kPause + 1, kCause + "OK\r"}},
                  {"S11", "OK"}},
        TimedCase{"SilenceCountsFromTheLastRead",
                  {{0, "\x02\xFF\x14"}, {kPause, "C"}, {2 * kPause, kCause}}, {}},
        TimedCase{"PiecesWithShortGapsAreOnePacket",
                  {{0, kCause.substr(0, 1)}, {40, kCause.substr(1, 3)}, {kPause, kCause.substr(4)}, {kPause + 5, "OK\r"}},
                  {"S11", "OK"}},
        TimedCase{"HalfAnEchoIsAbandoned", {{0, "ATD1"}, {kPause + 1, "23\rOK\r"}}, {"OK"}},
        TimedCase{"HalfAnOkIsAbandoned", {{0, "O"}, {kPause + 1, "K\r"}}, {}},
        TimedCase{"SilenceBetweenPacketsLosesNothing", {{0, kCause}, {10 * kPause, kCause}}, {"S11", "S11"}}),
    [](const ::testing::TestParamInfo<TimedCase>& p) { return std::string(p.param.name); });

TEST(FrameAssembler, TrailerInTheNextReadAndWhatFollowsIt) {
  CFrameAssembler assembler;
  const std::string frame = Binary("S10");
  EXPECT_EQ(Feed(assembler, frame.substr(0, 6)), Packets{"S10"});
  EXPECT_EQ(assembler.GetState(), CFrameAssembler::State::InTrailer);
  // The byte after the trailer starts the next packet.
  EXPECT_EQ(Feed(assembler, frame.substr(6) + "\x02\x01\x14L??"), Packets{"L"});
}

// A megabyte of noise with valid packets mixed in: nothing crashes, and every
// packet that begins while the assembler is idle (not cut by noise) comes out
// exactly, as the only thing its bytes produce.
TEST(FrameAssembler, NoiseNeverCutsAPacketThatStartsClean) {
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> noiseLength(0, 300);
  const std::vector<std::string> valid = {Binary("C\x01\xFF\xFF"), Binary("A030:10"), Binary("S11"), "OK\r",
                                          "ATD0301234\r", Binary("G1,23"), Binary(std::string(200, 'V'))};
  CFrameAssembler assembler;
  std::size_t fed = 0;
  std::size_t clean = 0;
  std::size_t emitted = 0;
  while (fed < (1u << 20)) {
    std::string noise(static_cast<std::size_t>(noiseLength(random)), '\0');
    for (char& c : noise) c = static_cast<char>(byte(random));
    emitted += Feed(assembler, noise).size();
    const std::string& packet = valid[static_cast<std::size_t>(byte(random)) % valid.size()];
    const bool idle = assembler.GetState() == CFrameAssembler::State::Idle;
    const Packets out = Feed(assembler, packet);
    emitted += out.size();
    if (idle) {
      ++clean;
      const std::string expected = packet[0] == '\x02' ? packet.substr(3, packet.size() - 5)
                                                       : packet.substr(0, packet.size() - 1);
      ASSERT_EQ(out, Packets{expected}) << "after " << fed << " bytes";
      EXPECT_EQ(assembler.GetState(), CFrameAssembler::State::Idle);
    }
    fed += noise.size() + packet.size();
  }
  EXPECT_GT(clean, 1000u);
  EXPECT_LT(emitted, fed / 2) << "every packet takes at least three bytes";
}

}  // namespace
