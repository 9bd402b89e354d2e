// The library's table of shared-memory channels. Callers hold indices into it; the table owns
// the channels. Each library that links this module has a table of its own.
#pragma once

#include <cstdint>

// Index of the new channel, or -1 when the channel could not be opened (no view): such a
// channel is not kept.
std::int32_t OpenConnection(std::int32_t id, std::int32_t count);
void CloseAllConnections();
void ReadConnection(std::int32_t index);
void WriteConnection(std::int32_t index);
// An index that names no channel, or an element beyond the channel's count, is ignored
// (Set) or reads -1.0 (Get).
void SetConnectionValue(std::int32_t index, std::int32_t element, double value);
double GetConnectionValue(std::int32_t index, std::int32_t element);
