// A fuzzing driver for compilers without libFuzzer (g++): it takes the same command line as a
// libFuzzer binary (the options used by scripts/fuzz) and feeds the target the inputs of the
// corpus folders, then inputs mutated from them by a seeded generator until the time or the
// number of runs is spent. There is no coverage feedback; mutated inputs join the pool at
// random so that mutations accumulate. Inputs given as files are run once each.
//
// An input that crashes, trips a sanitizer or runs longer than -timeout is written to
// <artifact_prefix>crash-<n> or <artifact_prefix>timeout-<n> before the process ends.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__has_include)
#if __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define QUENLITH_HAVE_SANITIZER_CALLBACK 1
#endif
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// ---- the input being run, for the crash and timeout handlers ----

const std::string* currentInput = nullptr;
char artifactPrefix[4096] = "./";
unsigned long long runNumber = 0;

// Writes the current input under <prefix><kind>-<run number>; async-signal-safe.
void writeArtifact(const char* kind) {
    if (!currentInput) return;
    char path[4200];
    size_t n = 0;
    for (const char* p = artifactPrefix; *p && n < 4096; ++p)
        path[n++] = *p;
    for (const char* p = kind; *p; ++p)
        path[n++] = *p;
    path[n++] = '-';
    char digits[24];
    size_t d = 0;
    unsigned long long v = runNumber;
    do {
        digits[d++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (d)
        path[n++] = digits[--d];
    path[n] = '\0';
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        const char* data = currentInput->data();
        size_t left = currentInput->size();
        while (left > 0) {
            const ssize_t w = ::write(fd, data, left);
            if (w <= 0) break;
            data += w;
            left -= static_cast<size_t>(w);
        }
        ::close(fd);
        const char note[] = "\n==fuzz== input written to ";
        (void)!::write(2, note, sizeof note - 1);
        (void)!::write(2, path, n);
        (void)!::write(2, "\n", 1);
    }
    currentInput = nullptr;
}

void onCrash(int sig) {
    writeArtifact("crash");
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void onTimeout(int) {
    const char note[] = "\n==fuzz== an input ran longer than the timeout\n";
    (void)!::write(2, note, sizeof note - 1);
    writeArtifact("timeout");
    ::_exit(70);
}

#ifdef QUENLITH_HAVE_SANITIZER_CALLBACK
void onSanitizerReport() {
    writeArtifact("crash");
}
#endif

// ---- options and inputs ----

struct Options {
    double maxTotalTime = 0; // seconds; 0: no limit
    long long runs = -1;     // -1: no limit
    unsigned long long seed = 0;
    unsigned timeout = 20;
    size_t maxLen = 4096;
    std::string dict;
    std::vector<std::string> dirs, files;
};

bool flag(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string("-") + name + "=";
    if (arg.rfind(prefix, 0) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string v;
        if (flag(arg, "max_total_time", v))
            o.maxTotalTime = std::atof(v.c_str());
        else if (flag(arg, "runs", v))
            o.runs = std::atoll(v.c_str());
        else if (flag(arg, "seed", v))
            o.seed = std::strtoull(v.c_str(), nullptr, 10);
        else if (flag(arg, "timeout", v))
            o.timeout = static_cast<unsigned>(std::atoi(v.c_str()));
        else if (flag(arg, "max_len", v))
            o.maxLen = static_cast<size_t>(std::atoll(v.c_str()));
        else if (flag(arg, "dict", v))
            o.dict = v;
        else if (flag(arg, "artifact_prefix", v))
            std::snprintf(artifactPrefix, sizeof artifactPrefix, "%s", v.c_str());
        else if (flag(arg, "rss_limit_mb", v) || flag(arg, "print_final_stats", v))
            continue; // libFuzzer's own; nothing to do here
        else if (!arg.empty() && arg[0] == '-')
            std::fprintf(stderr, "==fuzz== ignoring option %s\n", arg.c_str());
        else if (std::filesystem::is_directory(arg))
            o.dirs.push_back(arg);
        else
            o.files.push_back(arg);
    }
    return o;
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Entries of a libFuzzer dictionary: lines of [name=]"text" with \\, \" and \xNN escapes.
std::vector<std::string> readDictionary(const std::string& path) {
    std::vector<std::string> words;
    if (path.empty()) return words;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t open = line.find('"');
        const size_t close = line.rfind('"');
        if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
        std::string word;
        for (size_t i = open + 1; i < close; ++i) {
            if (line[i] == '\\' && i + 1 < close) {
                const char e = line[++i];
                if (e == 'x' && i + 2 < close) {
                    word += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    word += e;
                }
            } else {
                word += line[i];
            }
        }
        words.push_back(word);
    }
    return words;
}

// ---- mutations ----

class Mutator {
  public:
    Mutator(unsigned long long seed, std::vector<std::string> dictionary, size_t maxLen)
        : rng_(seed), dictionary_(std::move(dictionary)), maxLen_(maxLen) {}

    std::string mutate(std::string s, const std::vector<std::string>& pool) {
        const int steps = 1 + static_cast<int>(below(5));
        for (int i = 0; i < steps; ++i)
            once(s, pool);
        if (s.size() > maxLen_) s.resize(maxLen_);
        return s;
    }

    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(rng_() % n); }

  private:
    char interestingByte() {
        static const char bytes[] = {'\0', '\x1a', '\xff', '\x80', '\r', '\n', ' ', '\t', '-',
                                     '+',  '.',    'e',    'E',    'x',  'X',  '$', '0',  '1',
                                     '9',  ',',    '=',    'a',    'c',  'g',  't', 'A',  'T'};
        return bytes[below(sizeof bytes)];
    }
    std::string number() {
        static const char* const numbers[] = {
            "0",           "1",           "-1",         "2",          "2147483647", "2147483648",
            "-2147483648", "-2147483649", "4294967295", "4294967296", "1073741823", "1073741824",
            "1e308",       "1e309",       "1e-308",     "1e-400",     "1e4932",     "1e-4951",
            "0x7fffffff",  "$ffffffff",   "0.5",        ".5",         "5.",         "1e",
            "1e+",         "-0",          "100",        "21474834",   "21474835",   "0.0000001"};
        if (below(3)) return numbers[below(sizeof numbers / sizeof numbers[0])];
        std::string digits(1 + below(30), '0');
        for (char& c : digits)
            c = static_cast<char>('0' + below(10));
        return digits;
    }
    void once(std::string& s, const std::vector<std::string>& pool) {
        const size_t pos = below(s.size() + 1);
        switch (below(12)) {
        case 0:
            if (!s.empty()) s[below(s.size())] ^= static_cast<char>(1u << below(8));
            break;
        case 1:
            if (!s.empty()) s[below(s.size())] = static_cast<char>(below(256));
            break;
        case 2:
            if (!s.empty()) s[below(s.size())] = interestingByte();
            break;
        case 3: {
            std::string bytes(1 + below(8), '\0');
            for (char& c : bytes)
                c = static_cast<char>(below(256));
            s.insert(pos, bytes);
            break;
        }
        case 4:
            s.insert(pos, 3 + below(510), interestingByte());
            break;
        case 5:
            if (!s.empty()) s.erase(below(s.size()), 1 + below(16));
            break;
        case 6:
            if (!s.empty()) {
                const size_t from = below(s.size());
                s.insert(pos, s.substr(from, 1 + below(64)));
            }
            break;
        case 7:
            if (!dictionary_.empty()) s.insert(pos, dictionary_[below(dictionary_.size())]);
            break;
        case 8:
            if (!dictionary_.empty() && !s.empty()) {
                const size_t at = below(s.size());
                s.replace(at, 1 + below(8), dictionary_[below(dictionary_.size())]);
            }
            break;
        case 9:
            if (!pool.empty()) {
                const std::string& other = pool[below(pool.size())];
                s = s.substr(0, pos) +
                    other.substr(std::min(other.size(), below(other.size() + 1)));
            }
            break;
        case 10:
            s.insert(pos, number());
            break;
        default:
            if (s.size() > 1) std::swap(s[below(s.size())], s[below(s.size())]);
            break;
        }
    }

    std::mt19937_64 rng_;
    std::vector<std::string> dictionary_;
    size_t maxLen_;
};

void runOne(const std::string& input, unsigned timeout) {
    ++runNumber;
    currentInput = &input;
    if (timeout > 0) ::alarm(timeout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    if (timeout > 0) ::alarm(0);
    currentInput = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    for (int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL})
        std::signal(sig, onCrash);
    std::signal(SIGALRM, onTimeout);
#ifdef QUENLITH_HAVE_SANITIZER_CALLBACK
    __sanitizer_set_death_callback(onSanitizerReport);
#endif

    for (const std::string& f : o.files)
        runOne(readFile(f), o.timeout);
    if (o.dirs.empty()) {
        std::fprintf(stderr, "==fuzz== ran %zu input(s)\n", o.files.size());
        return 0;
    }

    std::vector<std::string> pool;
    for (const std::string& dir : o.dirs) {
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.is_regular_file()) paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& p : paths)
            pool.push_back(readFile(p));
    }
    for (const std::string& input : pool)
        runOne(input, o.timeout);
    const size_t seeds = pool.size();
    if (pool.empty()) pool.emplace_back();

    const unsigned long long seed =
        o.seed ? o.seed
               : static_cast<unsigned long long>(
                     std::chrono::steady_clock::now().time_since_epoch().count());
    std::fprintf(stderr, "==fuzz== seed %llu, %zu corpus input(s)\n", seed, seeds);
    Mutator mutator(seed, readDictionary(o.dict), o.maxLen);
    const auto start = std::chrono::steady_clock::now();
    long long mutated = 0;
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (o.maxTotalTime > 0 && elapsed >= o.maxTotalTime) break;
        if (o.runs >= 0 && mutated >= o.runs) break;
        const std::string input = mutator.mutate(pool[mutator.below(pool.size())], pool);
        runOne(input, o.timeout);
        ++mutated;
        if (mutator.below(16) == 0) {
            if (pool.size() < 4096)
                pool.push_back(input);
            else if (pool.size() > seeds)
                pool[seeds + mutator.below(pool.size() - seeds)] = input;
        }
    }
    std::fprintf(stderr, "==fuzz== done: %zu corpus input(s) and %lld mutated input(s)\n", seeds,
                 mutated);
    return 0;
}
