#pragma once
// Which engine builds the genealogies of a streams run (the default generator always walks
// the generations, its draws being fixed).

namespace quenlith {

enum class GenealogyEngine {
    Default,     // events in a streams run
    Events,      // EventGenealogySimulator: drawn at the cost of the events
    Generations, // GenealogySimulator: the generation-by-generation walk
};

} // namespace quenlith
