#pragma once
// Runs too large for the machine end with "Out of memory" before their tables are made. The
// system may grant an allocation larger than what it can hold and end the process later,
// when the memory is used; a run checks its size against the memory first.
#include <cstdint>
#include <string>

namespace quenlith {

// The memory a process may hold: physical memory plus swap, or the process's address-space
// or data limit when lower. 0 when unknown.
uint64_t memoryLimitBytes();

// Throws RunError "Out of memory" (with `what` and the sizes as detail) when `bytes` pass
// memoryLimitBytes(). Does nothing when the limit is unknown.
void checkFitsInMemory(double bytes, const std::string& what);

// What one genealogy being simulated and written holds per gene copy, about: its event tables
// and leaf ranges (36 bytes), its tree (48) and the order of its lineages.
inline constexpr double kGenealogyBytesPerCopy = 96;

} // namespace quenlith
