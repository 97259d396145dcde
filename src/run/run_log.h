#pragma once
// The run log: a plain-text record of when the run was made, its parameters and its files.
#include "msat/msat_types.h"
#include "run/run_parameters.h"

#include <chrono>
#include <string>
#include <vector>

namespace quenlith {

struct RunLogValues {
    int32_t SampleSize = 0;
    int32_t PopSize = 0; // final, in gene copies
    int32_t EnteredPopSize = 0;
    double FreqA = 0, FreqC = 0, FreqG = 0, FreqT = 0; // as the DNA set-up read them
    double MutationRate = 0;
    std::chrono::system_clock::time_point StartTime, EndTime;
    uint64_t Seed = 0; // the run generator's seed, logged so that the run can be repeated
    int32_t SimCount = 0;
    int32_t GrowthStart = 0, GrowthEnd = 0;
    int32_t SequenceLength = 0; // 0 on the microsatellite path
    // Microsatellite runs: the loci as read again from the parameter file for the log.
    std::vector<MsatLocusParams> loci;
    // A run with a demographic model: the model's section (the run's own lines otherwise
    // stay as they are).
    std::vector<std::string> modelLines;
};

// The whole text of the log, CR LF line ends. `form` supplies the check boxes, the radio
// choices and the texts the log echoes. The date line shows `logDate`; the overload
// without it uses the current time. Dates are written YYYY-MM-DD and times HH:MM:SS, in
// local time.
std::string runLogText(const FormValues& form, const RunLogValues& values);
std::string runLogText(const FormValues& form, const RunLogValues& values,
                       std::chrono::system_clock::time_point logDate);

// The mutation section of a microsatellite run: data type, number of loci (edtNumLoci),
// model, the locus table from `values.loci` and the output-file lines. runLogText()
// includes it when form.chkMsats is set.
void appendMsatMutationSection(const FormValues& form, const RunLogValues& values,
                               std::string& out);

// Writes the log to WorkDir / edtLogFile (created or truncated). Failures throw RunError.
void writeRunLog(const FormValues& form, const RunLogValues& values);

// Number formats of the log: the 23-character scientific form (" 1.00000000000000E-0007"),
// and fixed point with `decimals` decimals, rounded as printf rounds.
std::string logScientific(double value);
std::string logFixed(double value, int decimals);

} // namespace quenlith
