#pragma once
// Gamma(alpha, 1) variates from the run's uniforms, in double arithmetic: Ahrens and Dieter's GS
// rejection for the fractional part of the shape, a product of uniforms for its whole part.
#include "base/random.h"

namespace quenlith {

// Rng is RunRandom, StreamRandom or PlainRunRandom (instantiated for each).
template <typename Rng> double gammaVariate(double alpha, Rng& rng);

} // namespace quenlith
