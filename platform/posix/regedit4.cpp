#include "platform/posix/regedit4.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <unordered_map>

namespace platform::regedit4 {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;

// Unicode of the Windows-1252 bytes 0x80..0x9F; the rest of the page is Latin-1.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && NamesEqual(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One to eight hex digits and nothing else.
bool ParseHexNumber(std::string_view text, std::uint32_t* out) {
  if (text.empty() || text.size() > 8) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  *out = value;
  return true;
}

// "01,02,ff": bytes of one or two digits; a comma may end the list.
bool ParseHexBytes(std::string_view text, std::string* out) {
  out->clear();
  text = Trim(text);
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view token = Trim(text.substr(0, comma));
    if (token.empty() || token.size() > 2) return false;
    int value = 0;
    for (char c : token) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out->push_back(static_cast<char>(value));
    if (comma == std::string_view::npos) break;
    text = TrimLeft(text.substr(comma + 1));
  }
  return true;
}

// text starts at an opening quote; on success it is left just past the closing one.
// Only \\ and \" are escapes; any other backslash stands for itself.
bool ParseQuoted(std::string_view* text, std::string* out) {
  out->clear();
  for (std::size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < text->size() && ((*text)[i + 1] == '\\' || (*text)[i + 1] == '"')) {
      out->push_back((*text)[++i]);
    } else {
      out->push_back(c);
    }
  }
  return false;
}

// A UTF-8 sequence that does not decode is kept byte for byte: such a file was
// most likely ANSI after all.
std::string Utf8ToAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(text[i++]);
      continue;
    }
    i += length;
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      out.push_back(static_cast<char>(code));
      continue;
    }
    const auto* found = std::find(kCp1252High.begin(), kCp1252High.end(), code);
    out.push_back(found == kCp1252High.end() ? '?' : static_cast<char>(0x80 + (found - kCp1252High.begin())));
  }
  return out;
}

bool ParseData(std::string_view data, const std::vector<std::string_view>& lines, std::size_t* line, Value* value) {
  data = Trim(data);
  if (!data.empty() && data.front() == '"') {
    std::string text;
    if (!ParseQuoted(&data, &text) || !Trim(data).empty()) return false;
    value->type = kTypeString;
    value->data = std::move(text);
    value->data.push_back('\0');
    return true;
  }
  if (StartsWithNoCase(data, "dword:")) {
    std::uint32_t number = 0;
    if (!ParseHexNumber(Trim(data.substr(6)), &number)) return false;
    value->type = kTypeDword;
    value->data.clear();
    for (int shift = 0; shift < 32; shift += 8) value->data.push_back(static_cast<char>((number >> shift) & 0xFF));
    return true;
  }
  std::uint32_t type = kTypeBinary;
  if (StartsWithNoCase(data, "hex:")) {
    data.remove_prefix(4);
  } else if (StartsWithNoCase(data, "hex(")) {
    const std::size_t close = data.find(')');
    if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':') return false;
    if (!ParseHexNumber(data.substr(4, close - 4), &type)) return false;
    data.remove_prefix(close + 2);
  } else {
    return false;
  }
  std::string joined(TrimRight(data));
  while (!joined.empty() && joined.back() == '\\' && *line + 1 < lines.size()) {
    joined.pop_back();
    joined.append(Trim(lines[++*line]));
  }
  if (!ParseHexBytes(joined, &value->data)) return false;
  value->type = type;
  return true;
}

bool ParseValue(std::string_view text, const std::vector<std::string_view>& lines, std::size_t* line, Value* value) {
  if (text.front() == '@') {
    value->name.clear();
    text.remove_prefix(1);
  } else if (!ParseQuoted(&text, &value->name)) {
    return false;
  }
  text = TrimLeft(text);
  if (text.empty() || text.front() != '=') return false;
  return ParseData(text.substr(1), lines, line, value);
}

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

bool Quotable(const Value& value) {
  if (value.type != kTypeString || value.data.empty() || value.data.back() != '\0') return false;
  const std::string_view text(value.data.data(), value.data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void AppendData(std::string* out, const Value& value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (Quotable(value)) {
    AppendQuoted(out, std::string_view(value.data.data(), value.data.size() - 1));
    return;
  }
  if (value.type == kTypeDword && value.data.size() == 4) {
    out->append("dword:");
    for (int i = 3; i >= 0; --i) {
      const auto byte = static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
      out->push_back(kDigits[byte >> 4]);
      out->push_back(kDigits[byte & 0x0F]);
    }
    return;
  }
  if (value.type == kTypeBinary) {
    out->append("hex:");
  } else {
    std::string type;
    std::uint32_t rest = value.type;
    do {
      type.insert(type.begin(), kDigits[rest & 0x0F]);
      rest >>= 4;
    } while (rest != 0);
    out->append("hex(").append(type).append("):");
  }
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    if (i != 0) out->push_back(',');
    const auto byte = static_cast<unsigned char>(value.data[i]);
    out->push_back(kDigits[byte >> 4]);
    out->push_back(kDigits[byte & 0x0F]);
  }
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Names are mostly looked up as they were stored: one compare of the bytes.
  if (a == b) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool NameLess(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Upper(x)) < static_cast<unsigned char>(Upper(y));
  });
}

void AppendCanonicalKey(std::string* out, std::string_view path) {
  // Paths are mostly canonical already (no empty component): taken whole.
  bool canonical = !path.empty() && path.front() != '\\' && path.back() != '\\';
  for (std::size_t at = path.find('\\'); canonical && at != std::string_view::npos; at = path.find('\\', at + 1)) {
    canonical = path[at + 1] != '\\';  // never the last: the path does not end in one
  }
  if (canonical) {
    if (!out->empty()) out->push_back('\\');
    out->append(path);
    return;
  }
  while (!path.empty()) {
    const std::size_t slash = path.find('\\');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) {
      if (!out->empty()) out->push_back('\\');
      out->append(part);
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
}

std::string CanonicalKey(std::string_view path) {
  std::string out;
  AppendCanonicalKey(&out, path);
  return out;
}

Section* FindSection(Document& document, std::string_view key) {
  for (auto& section : document.sections) {
    if (NamesEqual(section.key, key)) return &section;
  }
  return nullptr;
}

const Section* FindSection(const Document& document, std::string_view key) {
  return FindSection(const_cast<Document&>(document), key);
}

Value* FindValue(Section& section, std::string_view name) {
  for (auto& value : section.values) {
    if (NamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

const Value* FindValue(const Section& section, std::string_view name) {
  return FindValue(const_cast<Section&>(section), name);
}

Document Parse(std::string_view text) {
  std::string converted;
  if (text.substr(0, kBom.size()) == kBom) {
    converted = Utf8ToAnsi(text.substr(kBom.size()));
    text = converted;
  }
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }

  Document document;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;  // an index: sections may move as the vector grows
  // Indexes keep a file of many keys or values from costing quadratic time.
  std::unordered_map<std::string, std::size_t> sections;
  std::unordered_map<std::string, std::size_t> values;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line.front() == ';' || line == kHeader) continue;
    if (line.front() == '[') {
      // A header that does not parse ends the previous section all the same,
      // so its lines cannot land in the wrong key. [-key] deletes on import.
      current = kNone;
      if (line.size() < 2 || line.back() != ']' || line[1] == '-') continue;
      const std::string key = CanonicalKey(line.substr(1, line.size() - 2));
      // Written back, a key that begins with '-' would read as a deletion: skipped as one.
      if (key.empty() || key.front() == '-') continue;
      const auto [found, added] = sections.emplace(Folded(key), document.sections.size());
      if (added) document.sections.push_back(Section{key, {}});
      current = found->second;
      continue;
    }
    if (line.front() != '"' && line.front() != '@') continue;
    Value value;
    if (!ParseValue(line, lines, &i, &value) || current == kNone) continue;
    auto& list = document.sections[current].values;
    const auto [found, added] = values.emplace(std::to_string(current) + ':' + Folded(value.name), list.size());
    if (added) {
      list.push_back(std::move(value));
    } else {
      list[found->second].type = value.type;
      list[found->second].data = std::move(value.data);
    }
  }
  return document;
}

std::string Write(const Document& document) {
  std::string out(kHeader);
  out.append("\r\n\r\n");
  for (const auto& section : document.sections) {
    out.append("[").append(section.key).append("]\r\n");
    for (const auto& value : section.values) {
      if (value.name.empty()) {
        out.push_back('@');
      } else {
        AppendQuoted(&out, value.name);
      }
      out.push_back('=');
      AppendData(&out, value);
      out.append("\r\n");
    }
    out.append("\r\n");
  }
  return out;
}

}  // namespace platform::regedit4
