// Advice of charge as TAPI shows it: a call's charging record rendered in the
// format the user chose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Charging information formats ("ChargeFormat").
inline constexpr std::uint32_t kChargeFormatUnitsText = 1;
inline constexpr std::uint32_t kChargeFormatAmountText = 2;
inline constexpr std::uint32_t kChargeFormatAocdUnits = 3;  // offered, not produced
inline constexpr std::uint32_t kChargeFormatAocdCurrency = 4;

// The AOC-D currency limit: longer currency texts are cut to it.
inline constexpr std::size_t kAocdCurrencyLimit = 10;

// The AOC-D currency component (operation value 33 and its argument, BER with
// short lengths) into buffer, which holds at least 33 bytes. Returns the bytes written.
std::size_t BuildAocdCurrency(std::uint8_t* buffer, const std::string& currency, std::uint32_t amount,
                              std::uint8_t multiplier);
