#pragma once
// The slice manifest: a small text file that every streams run writes into its working
// directory, so that slices of one run can be joined into the whole run's files.
//
// Lines of "key value" (values escaped: "\\" for a backslash, "\n" for a line break):
//   quenlith-slice 2            format version
//   state running|complete      "running" from the start of the run until its log is written
//   rng streams
//   seed S                      the run's 64-bit seed
//   first A                     the first simulation of the slice
//   count B                     its number of simulations
//   of S                        the number of simulations of the whole run
//   input D                     digest of the input files the run read (root sequence,
//                               microsatellite parameters), hexadecimal FNV-1a 64
//   file SIZE SHA256 NAME       one per file the join reads, once the run completed; the
//                               Arlequin projects as one entry "Arlequin/" (their names,
//                               sizes and contents in simulation order)
//   log.<name> V                the values the run log shows (sizes, frequencies, ...)
//   log.locus L MIN MAX U RATE  one per locus of a microsatellite run, for the log
//   log.model LINE              one per line of the log's "Demographic Model" section
//   form.<name> V               every control of the run, as FormValues holds it
#include "run/form_values.h"
#include "run/run_log.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quenlith {

inline constexpr const char* kSliceManifestName = "QuenlithSlice.txt";

// A file of a slice as its run left it.
struct SliceFile {
    std::string name; // relative to the slice's folder
    uint64_t size = 0;
    std::string sha256;
};

struct SliceManifest {
    bool complete = false;
    uint64_t seed = 0;
    int64_t first = 1;
    int64_t count = 0;
    int64_t of = 0; // the whole run's number of simulations
    std::string inputDigest;
    std::vector<SliceFile> files;
    RunLogValues log; // times excepted
    FormValues form;
};

std::string sliceManifestText(const SliceManifest& m);

// Parses a manifest; false with `error` set when the text is not one.
bool parseSliceManifest(const std::string& text, SliceManifest& m, std::string& error);

// Every control of FormValues by name, as text (check boxes "0"/"1", choices by number).
std::vector<std::pair<std::string, std::string>> formFields(const FormValues& form);

// FNV-1a 64 of a text, for the input digest.
uint64_t textDigest(const std::string& text, uint64_t hash = 14695981039346656037ull);

} // namespace quenlith
