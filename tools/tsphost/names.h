// The published names of TAPI's constants, both ways: values shown to a person
// as names ("CONNECTED", "LINEERR_CALLUNAVAIL") and names in scripts read back
// as values. One table, built from the same list the ABI check proves.
#pragma once

#include <optional>
#include <string>

#include "tapi/tapi.h"

namespace tsphost {

// The families of constants, by the prefix their names share.
inline constexpr char kCallStateNames[] = "LINECALLSTATE_";
inline constexpr char kDisconnectModeNames[] = "LINEDISCONNECTMODE_";
inline constexpr char kDialToneModeNames[] = "LINEDIALTONEMODE_";
inline constexpr char kOfferingModeNames[] = "LINEOFFERINGMODE_";
inline constexpr char kConnectedModeNames[] = "LINECONNECTEDMODE_";
inline constexpr char kCallInfoStateNames[] = "LINECALLINFOSTATE_";
inline constexpr char kLineDevStateNames[] = "LINEDEVSTATE_";
inline constexpr char kCallFeatureNames[] = "LINECALLFEATURE_";
inline constexpr char kLineFeatureNames[] = "LINEFEATURE_";
inline constexpr char kAddressFeatureNames[] = "LINEADDRFEATURE_";
inline constexpr char kCallOriginNames[] = "LINECALLORIGIN_";
inline constexpr char kMediaModeNames[] = "LINEMEDIAMODE_";
inline constexpr char kDevStatusFlagNames[] = "LINEDEVSTATUSFLAGS_";
inline constexpr char kLineErrorNames[] = "LINEERR_";

// The name of value in the family, without the prefix ("CONNECTED"); nullopt
// when no constant of the family has exactly that value.
std::optional<std::string> NameOf(const char* prefix, DWORD value);
// The value of a name in the family; the prefix may be written or left out and
// case does not matter ("busy", "LINEDISCONNECTMODE_BUSY").
std::optional<DWORD> ValueOf(const char* prefix, const std::string& name);

// The names of the single bits set in value, blank-separated ("DROP HOLD");
// bits without a name show as hexadecimal, 0 as "none".
std::string BitNames(const char* prefix, DWORD value);

// The LINECALLSTATE name, or the number in hexadecimal for anything else.
std::string CallStateName(DWORD state);
// The mode that goes with a state, by the family the state uses; empty for a
// mode of 0 or a state that has none.
std::string ModeName(DWORD state, DWORD mode);
// The value of a mode name for a state (DISCONNECTED takes disconnect modes ...).
std::optional<DWORD> ModeValue(DWORD state, const std::string& name);

// A TSPI result for a person: "0", "LINEERR_CALLUNAVAIL (0x80000005)", or a
// positive number as it is.
std::string ResultText(LONG result);
// A result written in a script: 0, a number (decimal or 0x hexadecimal), or a
// LINEERR_ name with or without its prefix.
std::optional<LONG> ParseResult(const std::string& text);

// The name of a line message (LINE_CALLSTATE, LINE_NEWCALL ...), or its number.
std::string MessageName(DWORD message);

// The text in lower case (ASCII), as scripts' words are compared.
std::string Lower(std::string text);

}  // namespace tsphost
