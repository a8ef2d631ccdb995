#include "tools/phonesim/transmitter.h"

#include <gtest/gtest.h>

namespace phonesim {
namespace {

using namespace std::chrono_literals;

std::string Joined(const std::vector<Piece>& pieces) {
  std::string bytes;
  for (const Piece& piece : pieces) bytes += piece.bytes;
  return bytes;
}

TEST(TransmitterTest, FrameCarriesLengthMarkerPayloadAndTrailer) {
  const std::string payload = "C\x06\xFF\xFF";
  // 'C' + 6 + 255 + 255 = 0x247: the trailer keeps the low byte, then ETX.
  EXPECT_EQ(Frame(payload), std::string("\x02\x04\x14"
                                        "C\x06\xFF\xFF\x47\x03",
                                        9));
  EXPECT_EQ(Frame(std::string(300, '9')).substr(1, 1), "\xFF") << "cut to what a length byte can say";
}

TEST(TransmitterTest, CausesGoOutAsOneDigitPerHalfByteAndReadBackAsThemselves) {
  const struct {
    int cause;
    const char* payload;
  } kSamples[] = {{0, "S00"}, {17, "S11"}, {27, "S1;"}, {42, "S2:"}, {63, "S3?"}, {127, "S7?"}};
  for (const auto& sample : kSamples) EXPECT_EQ(CausePayload(sample.cause), sample.payload);
  EXPECT_EQ(NoticePayload(2, 27), "L21;") << "the notice carries its cause the same way";
  for (int cause = 0; cause <= 127; ++cause) {
    const std::string payload = CausePayload(cause);
    ASSERT_EQ(payload.size(), 3u);
    for (const char digit : payload.substr(1)) {
      EXPECT_TRUE(digit >= '0' && digit <= '?') << "readable in a trace: " << cause;
    }
    // What a reader keeping the low four bits of each byte, high first, makes of it.
    EXPECT_EQ((payload[1] & 0x0F) * 16 + (payload[2] & 0x0F), cause);
  }
}

TEST(TransmitterTest, MonitorShowsReportsAsSlotsAndCausesAsNumbers) {
  EXPECT_EQ(Describe(Message::Packet(ReportPayload({kSetup, kFree, kFree}))), "C 03 FF FF");
  EXPECT_EQ(Describe(Message::Packet("S1;")).substr(0, 12), "S1; cause 27");
}

TEST(TransmitterTest, SplitCutsMessagesIntoPacedPiecesThatJoinUpAgain) {
  const std::string frame = Frame("A0301234:10");
  for (const std::size_t size : {1u, 2u, 5u, 100u}) {
    SCOPED_TRACE(size);
    WireFaults faults;
    faults.splitBytes = size;
    faults.splitPause = 25ms;
    const std::vector<Piece> pieces = Encode(Message::Packet("A0301234:10"), faults);
    EXPECT_EQ(Joined(pieces), frame);
    EXPECT_EQ(pieces.size(), (frame.size() + size - 1) / size);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_LE(pieces[i].bytes.size(), size);
      EXPECT_EQ(pieces[i].pauseAfter, i + 1 < pieces.size() ? 25ms : 0ms) << "between pieces only";
    }
  }
}

TEST(TransmitterTest, CutAtEveryOffsetGivesTwoPiecesThatJoinUpAgain) {
  const std::string frame = Frame("C\x06\xFF\xFF");
  for (std::size_t at = 1; at < frame.size(); ++at) {
    SCOPED_TRACE(at);
    WireFaults faults;
    faults.cutAt = at;
    faults.splitPause = 40ms;
    const std::vector<Piece> pieces = Encode(Message::Packet("C\x06\xFF\xFF"), faults);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, frame.substr(0, at));
    EXPECT_EQ(pieces[0].pauseAfter, 40ms);
    EXPECT_EQ(pieces[1].bytes, frame.substr(at));
    EXPECT_EQ(pieces[1].pauseAfter, 0ms);
  }
  WireFaults faults;
  faults.cutAt = frame.size();
  EXPECT_EQ(Encode(Message::Packet("C\x06\xFF\xFF"), faults).size(), 1u) << "nothing left to cut off";
  faults.cutAt = 2;
  EXPECT_EQ(Joined(Encode(Message::Text("OK\r\n"), faults)), "OK\r\n");
  EXPECT_EQ(Encode(Message::Text("OK\r\n"), faults).size(), 2u) << "text lines are cut too";
}

TEST(TransmitterTest, RepeatSendsEveryPacketTwiceAndLosingSparesEchoes) {
  WireFaults faults;
  faults.repeat = true;
  EXPECT_EQ(Joined(Encode(Message::Packet("C\x04\xFF\xFF"), faults)),
            Frame("C\x04\xFF\xFF") + Frame("C\x04\xFF\xFF"));
  EXPECT_EQ(Joined(Encode(Message::Text("OK\r\n"), faults)), "OK\r\n") << "only packets repeat";
  faults.splitBytes = 4;
  const std::vector<Piece> pieces = Encode(Message::Packet("S11"), faults);
  EXPECT_EQ(Joined(pieces), Frame("S11") + Frame("S11"));
  EXPECT_EQ(pieces.back().pauseAfter, 0ms);

  // Which packets are lost, faults.missing-a-and-v shows; an echo is no packet.
  WireFaults losing;
  losing.lost = "AV";
  EXPECT_EQ(Joined(Encode(Message::Text("ATA\r"), losing)), "ATA\r");
}

}  // namespace
}  // namespace phonesim
