#pragma once
// The layouts of the sequence file, in the order of the window's choices.

namespace quenlith {

enum class OutputFormat { Clustal = 0, Nexus = 1, Fasta = 2, MrBayes = 3 };

// "Clustal", "Nexus", "Fasta" or "MrBayes".
const char* outputFormatName(OutputFormat f);

} // namespace quenlith
