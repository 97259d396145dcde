#pragma once
// The run: what pressing "Run Simulation" does, for both front ends.
#include "genealogy/branch_demes.h"
#include "genealogy/deme_statistics.h"
#include "genealogy/genealogy.h"
#include "run/form_values.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace quenlith {

// How the run reports to its front end. Called on the thread that runs the simulation.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    virtual void simulationStarted(int32_t /*simulation*/) {}
    virtual void progress(int64_t /*position*/, int64_t /*maximum*/) {}
    // Checked after every simulation: true ends the run there, with no log (the front end
    // reports how many simulations were done and the seed).
    virtual bool stopRequested() { return false; }
    // A flag that a long genealogy checks every few thousand generations: once it is true the
    // simulation in progress is abandoned and the run ends after the last whole simulation.
    virtual const std::atomic<bool>* stopFlag() { return nullptr; }
};

enum class RunStatus {
    Completed, // every output and the log written
    Rejected,  // refused before the run: `warning` holds the text of the "WARNING" box
    Stopped,   // stopped on request after the last whole simulation (simsDone); no log
};

// What the browser and the drawing need after a run.
struct RunOutcome {
    RunStatus status = RunStatus::Rejected;
    std::string warning;
    bool msats = false;
    int32_t sampleSize = 0;
    int32_t loci = 0;
    int32_t simCount = 0;
    int32_t recordCount = 0; // genealogies stored in the matrix files
    int32_t shownRecord = 0; // the record drawn at the end: the last one
    std::vector<int32_t> MutCountPerSim;
    Genealogy lastGenealogy; // the last genealogy simulated (empty without one)
    int32_t popSize = 0;     // PopSize at the end of the run, in gene copies
    bool drawMutations = true;
    std::string workDir;

    // For the front end's report and plots (read from memory, not from the files).
    uint64_t seed = 0;        // the seed the run was made with
    int32_t simsDone = 0;     // whole simulations done (all of them unless stopped)
    bool constantSize = true; // no fluctuating size, one merge: the waiting times are geometric
    // Per record (genealogy): its TMRCA. MutCountPerSim holds its mutation events.
    std::vector<int32_t> tmrcaPerRecord;
    // waitingTimeSum[a]: summed over the records, the generations spent with a lineages.
    std::vector<int64_t> waitingTimeSum;
    // DNA runs with one mutation probability per lineage and generation (no gamma rate
    // variation): that probability; otherwise negative.
    double mutationProbability = -1;
    // Microsatellite runs, per locus over the whole simulations: mean number of alleles, and
    // mean gene diversity (empty under the infinite alleles model, which computes none).
    std::vector<double> meanAllelesPerLocus;
    std::vector<double> meanGeneDiversityPerLocus;

    // Runs of a demographic model (all empty otherwise): the demes' names, where the
    // lineages of each record's genealogy lived (index record - 1), the deme of every
    // sampled copy in sample order, and per whole simulation its pairwise statistics
    // (simulation-major: pi per deme, d_xy and F_ST per pair of demes).
    std::vector<std::string> demeNames;
    std::vector<BranchDemes> branchDemesPerRecord;
    std::vector<int32_t> sampleDemes;
    std::vector<double> piPerSim, dxyPerSim, fstPerSim;
    // The two-deme chain of the model, when it has one (its pair times are then exact).
    bool hasTwoDemeChain = false;
    TwoDemeChain twoDemeChain;
};

// Adds the generations g spent with each number of lineages to `sums` (indexed by the
// number of lineages, grown to k + 1).
void addWaitingTimes(const Genealogy& g, int32_t sampleSize, std::vector<int64_t>& sums);

// Performs one complete run. The generator's state is set to `seed` before the first draw
// (the 32-bit generator takes its low 32 bits; streams are keyed by all 64).
// File-layer failures throw RunError after leaving the files written so far in place.
RunOutcome RunSimulation(const FormValues& form, uint64_t seed, RunObserver& observer);

// The refusal of the run-control values (kind of random numbers, seed, slice, threads), or
// empty when they are sound: a slice of a default-mode run, a seed above 32 bits for the
// 32-bit generator, a slice past simulation 2147483647, a negative number of threads.
// `simCount` is the number of simulations the form asks for. RunSimulation refuses these
// (status Rejected) before it writes anything.
std::string runControlError(const FormValues& form, int32_t simCount, uint64_t seed);

} // namespace quenlith
