#pragma once
// The microsatellite run: for every simulation, every locus of the parameter file gets its
// own genealogy in 2N gene copies, an ancestral size and mutations under the chosen allele
// model; the run writes the per-genealogy files per locus, the genotype table and the
// Arlequin project per simulation, and the summary table at the end.
#include "base/file_io.h"
#include "base/random.h"
#include "output/each_sim.h"
#include "output/pipeline_outputs.h"
#include "run/run_driver.h"
#include "run/run_parameters.h"
#include "run/run_slice.h"

namespace quenlith {

// Performs every simulation of a microsatellite run (or slice): with `lcg` every draw comes from
// that generator, without it simulation s draws from stream s of the slice's seed. `coalFile` and
// `mutFile` are the two distribution files the driver created; `arlequinBatch` is the batch file
// when the driver prepared it, else null; every file the run writes goes into the run's record
// `written`. Fills `outcome` (records, MutCountPerSim, the last
// genealogy, PopSize, status). `pipelineOutputs`, when given, receives every simulation's allele
// sizes; `eachSim`, when given, its genealogies and sizes. Returns false when the run was stopped.
// Errors throw RunError and leave the files written so far.
bool runMicrosatellites(const RunParameters& p, const RunSlice& slice, RunRandom* lcg,
                        RunObserver& observer, BlockFile& coalFile, BlockFile& mutFile,
                        BlockFile* arlequinBatch, RunOutcome& outcome, WrittenFiles* written,
                        PipelineOutputs* pipelineOutputs = nullptr,
                        EachSimFiles* eachSim = nullptr);

} // namespace quenlith
