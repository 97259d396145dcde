#pragma once
// The per-simulation summary table (outfile.csv), written whole at the end of a run.
#include "msat/msat_types.h"
#include "output/run_tables.h"

#include <cstdint>
#include <string>

namespace quenlith {

class WrittenFiles;

// Table of a DNA run: simulation, TMRCA, infinite- and finite-sites segregating sites and,
// with `diversity`, the haplotype and nucleotide diversities. One row per entry of `t`.
// Rows are numbered from `firstSim` (a slice of a run numbers its simulations as the whole run).
std::string dnaSummaryTable(const PerSimulationTables& t, bool diversity, int32_t firstSim = 1);

// Table of a microsatellite run: for each of `loci` loci the TMRCA, the infinite-alleles
// count and the allele count and, with `diversity` (chkMSatDiversity), the allele count
// divided by the sample size k and the gene diversity. One row per simulation of `t`.
std::string msatSummaryTable(const MsatResultTables& t, int32_t loci, int32_t k, bool diversity,
                             int32_t firstSim = 1);

// Writes a table text to workDir / name (created or truncated), recorded in `written`.
// Failures throw RunError.
void writeSummaryTable(const std::string& workDir, const std::string& name,
                       const std::string& table, WrittenFiles* written);

} // namespace quenlith
