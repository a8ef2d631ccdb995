// The REGEDIT4 text format that regedit exports and imports, as the POSIX
// registry stores it: ANSI text, one [section] per key, "Name"=data lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::regedit4 {

struct Value {
  std::string name;  // empty: the key's default value, written @=
  std::uint32_t type = 0;
  std::string data;  // the raw bytes, as RegQueryValueEx returns them
};

struct Section {
  std::string key;  // full path with its root, e.g. HKEY_LOCAL_MACHINE\SOFTWARE
  std::vector<Value> values;
};

struct Document {
  std::vector<Section> sections;
};

// What importing text would leave in the registry: a key named twice is one
// section, a value set twice keeps the last data. Lines that make no sense are
// skipped. A UTF-8 BOM marks UTF-8 text, taken to the ANSI code page (1252).
Document Parse(std::string_view text);

// The whole file as regedit writes it (CRLF line ends).
std::string Write(const Document& document);

// Registry names compare without regard to ASCII case.
bool NamesEqual(std::string_view a, std::string_view b);
// Orders as the registry enumerates subkeys: by upper-cased name.
bool NameLess(std::string_view a, std::string_view b);

// Drops empty components: "A\\B\" is "A\B".
std::string CanonicalKey(std::string_view path);
// The same components appended to *out, each after a backslash when *out is not empty.
void AppendCanonicalKey(std::string* out, std::string_view path);

Section* FindSection(Document& document, std::string_view key);
const Section* FindSection(const Document& document, std::string_view key);
Value* FindValue(Section& section, std::string_view name);
const Value* FindValue(const Section& section, std::string_view name);

}  // namespace platform::regedit4
