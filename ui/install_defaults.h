// The settings the provider is installed with, and its removal.
#pragma once

#include <cstdint>

// The price of a charge unit a new installation assumes in the user's language.
const char* DefaultChargePerUnit(std::uint16_t langId);
// Writes the eight install values, replacing whatever is stored; false when
// any of them could not be stored.
bool WriteInstallDefaults(std::uint16_t langId);
// Deletes the settings key with everything in it; its parent stays.
void RemoveSettings();
