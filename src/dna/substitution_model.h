#pragma once
// The substitution models of a DNA run.

namespace quenlith {

enum class SubstitutionModel { JC69, K2P, F81, HKY85 };

} // namespace quenlith
