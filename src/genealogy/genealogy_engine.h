#pragma once
// Which engine builds the genealogies of a streams run (the default generator always walks
// the generations, its draws being fixed), and which lineages of a generation merge.

namespace quenlith {

enum class GenealogyEngine {
    Default,     // events in a streams run
    Events,      // EventGenealogySimulator: drawn at the cost of the events
    Generations, // GenealogySimulator: the generation-by-generation walk
};

// Which lineages of a generation merge. Within a generation the lineages stand in the order of
// the parents they drew, so those on one parent are neighbours.
enum class MergeRule {
    One, // the two lowest lineages on the smallest parent drawn more than once
    All, // every set of lineages on one parent: a merge of m lineages is m - 1 events
};

} // namespace quenlith
