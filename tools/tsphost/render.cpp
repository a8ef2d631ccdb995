#include "tools/tsphost/render.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "tools/tsphost/names.h"

namespace tsphost {
namespace {

// The operation value of AOC-D currency, as the component's leading INTEGER.
constexpr unsigned char kAocdCurrencyHead[] = {0x02, 0x01, 0x21};

std::string HexBytes(const std::string& bytes) {
  std::string text;
  for (unsigned char byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%s%02X", text.empty() ? "" : " ", byte);
    text += pair;
  }
  return text;
}

// One BER element with a short-form length.
struct Element {
  unsigned char tag = 0;
  std::string content;
};

class BerReader {
 public:
  explicit BerReader(std::string bytes) : bytes_(std::move(bytes)) {}
  bool AtEnd() const { return at_ == bytes_.size(); }
  std::optional<Element> Next() {
    if (bytes_.size() - at_ < 2) return std::nullopt;
    const unsigned char tag = static_cast<unsigned char>(bytes_[at_]);
    const unsigned char length = static_cast<unsigned char>(bytes_[at_ + 1]);
    if (length > 0x7F || bytes_.size() - at_ - 2 < length) return std::nullopt;
    Element element{tag, bytes_.substr(at_ + 2, length)};
    at_ += 2u + length;
    return element;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// "0.720 EUR" from the currency component, or nullopt when it is not one.
std::optional<std::string> AocdCurrency(const std::string& bytes) {
  if (bytes.size() < sizeof kAocdCurrencyHead ||
      bytes.compare(0, sizeof kAocdCurrencyHead,
                    std::string(reinterpret_cast<const char*>(kAocdCurrencyHead), sizeof kAocdCurrencyHead)) != 0) {
    return std::nullopt;
  }
  BerReader outer(bytes.substr(sizeof kAocdCurrencyHead));
  const auto sequence = outer.Next();
  if (!sequence || sequence->tag != 0x30 || !outer.AtEnd()) return std::nullopt;
  // recordedCurrency [1] holds the currency [1] and the amount [2], which holds
  // the currency amount [1] and its multiplier [2]; the type of charging
  // information [2] follows the recorded currency.
  std::string currency;
  std::uint64_t amount = 0;
  int multiplier = -1;
  BerReader inner(sequence->content);
  const auto recordedCurrency = inner.Next();
  if (!recordedCurrency || recordedCurrency->tag != 0xA1) return std::nullopt;
  BerReader recorded(recordedCurrency->content);
  while (!recorded.AtEnd()) {
    const auto element = recorded.Next();
    if (!element) return std::nullopt;
    if (element->tag == 0x81) {
      currency = element->content;
    } else if (element->tag == 0xA2) {
      BerReader amountReader(element->content);
      while (!amountReader.AtEnd()) {
        const auto part = amountReader.Next();
        if (!part) return std::nullopt;
        if (part->tag == 0x81 && !part->content.empty() && part->content.size() <= 4) {
          for (unsigned char byte : part->content) amount = amount * 256 + byte;
        } else if (part->tag == 0x82 && part->content.size() == 1) {
          multiplier = static_cast<unsigned char>(part->content[0]);
        }
      }
    }
  }
  // Multipliers 0 to 3 count thousandths, hundredths, tenths and ones.
  if (multiplier < 0 || multiplier > 3) return std::nullopt;
  const int decimals = 3 - multiplier;
  std::uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  std::string text = std::to_string(amount / scale);
  if (decimals > 0) {
    std::string fraction = std::to_string(amount % scale);
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    text += "." + fraction;
  }
  return text + (currency.empty() ? "" : " " + currency);
}

}  // namespace

std::string ChargingText(const std::string& bytes) {
  if (bytes.empty()) return {};
  if (const auto currency = AocdCurrency(bytes)) return *currency;
  std::string text = bytes.substr(0, bytes.find('\0'));
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return HexBytes(bytes);
  }
  return text.empty() ? HexBytes(bytes) : text;
}

CallInfoSummary Summarize(const VarBuffer<LINECALLINFO>& buffer) {
  const LINECALLINFO* info = buffer.Get();
  CallInfoSummary summary;
  summary.origin = info->dwOrigin;
  summary.callId = info->dwCallID;
  summary.callerId = buffer.WideText(info->dwCallerIDSize, info->dwCallerIDOffset);
  summary.calledId = buffer.WideText(info->dwCalledIDSize, info->dwCalledIDOffset);
  summary.connectedId = buffer.WideText(info->dwConnectedIDSize, info->dwConnectedIDOffset);
  summary.charging = ChargingText(buffer.Bytes(info->dwChargingInfoSize, info->dwChargingInfoOffset));
  return summary;
}

std::string DescribeChange(DWORD infoStates, const CallInfoSummary& summary) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  const auto shown = [](const std::string& value) { return value.empty() ? std::string("-") : value; };
  if ((infoStates & LINECALLINFOSTATE_ORIGIN) != 0) {
    add("origin " + NameOf(kCallOriginNames, summary.origin).value_or(std::to_string(summary.origin)));
  }
  if ((infoStates & LINECALLINFOSTATE_CALLERID) != 0) add("caller " + shown(summary.callerId));
  if ((infoStates & LINECALLINFOSTATE_CALLEDID) != 0) add("called " + shown(summary.calledId));
  if ((infoStates & LINECALLINFOSTATE_CONNECTEDID) != 0) add("connected " + shown(summary.connectedId));
  if ((infoStates & LINECALLINFOSTATE_CHARGINGINFO) != 0) {
    add(summary.charging.empty() ? std::string("no charging information") : "charge " + summary.charging);
  }
  return text;
}

}  // namespace tsphost
