#include "tests/phonesim/provider_end.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/thread.h"
#include "tests/support/test_support.h"

namespace phonesim_test {
namespace {

constexpr unsigned char kStx = 0x02;
constexpr unsigned char kMarker = 0x14;

}  // namespace

void PrintTo(const Item& item, std::ostream* out) {
  *out << (item.kind == Item::Kind::kLine ? "line " : "packet ") << testing::PrintToString(item.bytes);
}

Item Line(std::string text) { return {Item::Kind::kLine, std::move(text)}; }

Item Packet(std::string payload) { return {Item::Kind::kPacket, std::move(payload)}; }

std::string Report(unsigned char slot1, unsigned char slot2, unsigned char slot3) {
  return std::string{'C', static_cast<char>(slot1), static_cast<char>(slot2), static_cast<char>(slot3)};
}

void FrameDecoder::Feed(const std::string& bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    switch (state_) {
      case State::kText:
        if (byte == kStx) {
          text_.clear();
          state_ = State::kLength;
        } else if (byte == '\r') {
          if (!text_.empty()) items.push_back(Line(text_));
          text_.clear();
        } else if (byte >= 0x20 && byte < 0x7F) {
          text_ += c;
        } else if (byte != '\n' || !text_.empty()) {
          text_.clear();
        }
        break;
      case State::kLength:
        length_ = byte;
        state_ = State::kMarker;
        break;
      case State::kMarker:
        if (byte != kMarker) {
          state_ = State::kText;
        } else {
          payload_.clear();
          state_ = length_ == 0 ? State::kTrailer : State::kPayload;
          trailerLeft_ = 2;
          if (length_ == 0) items.push_back(Packet({}));
        }
        break;
      case State::kPayload:
        payload_ += c;
        if (payload_.size() == length_) {
          items.push_back(Packet(payload_));
          state_ = State::kTrailer;
        }
        break;
      case State::kTrailer:
        if (--trailerLeft_ == 0) state_ = State::kText;
        break;
    }
  }
}

std::uint32_t ProviderEnd::Open() {
  if (const std::uint32_t error = port_.Open(comName_); error != 0) return error;
  port_.Configure(9600);
  return 0;
}

void ProviderEnd::Close() { port_.Close(); }

void ProviderEnd::Send(const std::string& line) {
  const std::string bytes = line + "\r";
  for (const char c : bytes) {
    std::uint32_t error = 0;
    port_.WriteByte(static_cast<std::uint8_t>(c), &error);
    platform::SleepMs(c == '\r' || c == '\n' ? 50 : 20);
  }
}

void ProviderEnd::SendAtOnce(const std::string& bytes) {
  for (const char c : bytes) {
    std::uint32_t error = 0;
    port_.WriteByte(static_cast<std::uint8_t>(c), &error);
  }
}

void ProviderEnd::Pump() {
  std::uint8_t buffer[512];
  std::uint32_t error = 0;
  for (;;) {
    const int count = port_.Read(buffer, sizeof buffer, &error);
    if (count <= 0) return;
    const std::string bytes(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    raw_ += bytes;
    arrivals_.insert(arrivals_.end(), bytes.size(), Clock::now());
    decoder_.Feed(bytes);
  }
}

std::optional<Item> ProviderEnd::Next(std::chrono::milliseconds timeout) {
  if (!testing_support::WaitFor(
          [this] {
            Pump();
            return !decoder_.items.empty();
          },
          timeout)) {
    return std::nullopt;
  }
  Item item = decoder_.items.front();
  decoder_.items.pop_front();
  return item;
}

std::optional<std::string> ProviderEnd::NextPacket(std::chrono::milliseconds timeout) {
  const std::vector<Item> items = Until([](const Item& item) { return item.kind == Item::Kind::kPacket; }, timeout);
  if (items.empty() || items.back().kind != Item::Kind::kPacket) return std::nullopt;
  return items.back().bytes;
}

bool ProviderEnd::ReceiveUntil(const std::string& bytes, std::chrono::milliseconds timeout) {
  return testing_support::WaitFor(
      [&] {
        Pump();
        return raw_.find(bytes) != std::string::npos;
      },
      timeout);
}

std::vector<Item> ProviderEnd::UntilResult(std::chrono::milliseconds timeout) {
  return Until([](const Item& item) { return item == Line("OK") || item == Line("ERROR"); }, timeout);
}

std::vector<Item> ProviderEnd::Until(const std::function<bool(const Item&)>& last, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::vector<Item> items;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    std::optional<Item> item = Next(std::max(left, std::chrono::milliseconds{0}));
    if (!item) return items;
    items.push_back(*item);
    if (last(*item)) return items;
  }
}

}  // namespace phonesim_test
