// The DWORD fields of the structures an application reads about a line, its
// address and a call, by their TAPI names, with the family of constants whose
// names a field's value is written in ("dwCallFeatures" takes LINECALLFEATURE_).
// Scripts name them in expectations: "expect status dwCallFeatures DROP HOLD".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tapi/tapi.h"

namespace tsphost {

enum class Structure { kDevCaps, kAddressCaps, kDevStatus, kAddressStatus, kCallInfo, kCallStatus };

struct Field {
  const char* name;
  std::size_t offset;
  // The prefix of the constants the value is made of; nullptr for a plain number.
  const char* family;
};

// The field of that name, case ignored, "dw" optional ("dwNumActiveCalls",
// "numactivecalls", "DefaultDialParams.dwDialPause").
std::optional<Field> FindField(Structure structure, const std::string& name);
// The TAPI name of the structure ("LINEDEVCAPS").
const char* StructureName(Structure structure);

// A value as a script writes it: a number (decimal or 0x hexadecimal), "none"
// for 0, or names of the field's family, OR-ed ("DROP HOLD").
std::optional<DWORD> ParseFieldValue(const Field& field, const std::vector<std::string>& words);
// A value for a person: the family's names (or "none"), else the number.
std::string FieldValueText(const Field& field, DWORD value);

}  // namespace tsphost
