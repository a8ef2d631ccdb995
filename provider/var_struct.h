// TAPI's variable-size structures: a fixed part, then variable parts laid out
// one after the other. dwNeededSize tells the caller how much a complete answer
// takes; a part is written only where dwTotalSize has room for it.
#pragma once

#include <cstring>

#include "tapi/tapi.h"

// Appends one part at dwUsedSize. dwNeededSize grows by its size; the part is
// copied, its offset stored and dwUsedSize advanced only when dwTotalSize covers
// the new dwNeededSize. Returns whether it was written.
template <typename Structure>
bool AppendVariablePart(Structure* structure, const void* data, DWORD size, DWORD* offset) {
  structure->dwNeededSize += size;
  if (structure->dwTotalSize < structure->dwNeededSize) return false;
  const DWORD at = structure->dwUsedSize;
  std::memcpy(reinterpret_cast<unsigned char*>(structure) + at, data, size);
  *offset = at;
  structure->dwUsedSize = structure->dwNeededSize;
  return true;
}
