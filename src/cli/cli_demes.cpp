#include "cli/cli_demes.h"

#include "demography/demes_reader.h"

namespace quenlith {

namespace {

// Options that a model replaces or that cannot run one; empty when none is given.
std::string conflictingOption(const CliOptions& o) {
    if (o.rngGiven && o.form.rngKind == RandomKind::Lcg)
        return "--demes: a model runs with --rng streams, not --rng lcg";
    if (o.form.chkFluctuatingN)
        return "--demes: the model gives the population sizes; --fluctuating cannot be used with "
               "it";
    if (o.form.chkVarRepSuc)
        return "--demes: the model gives the reproduction; --var-rep-success cannot be used with "
               "it";
    if (!o.joinDirs.empty()) return "--demes: cannot be used with --join";
    return {};
}

} // namespace

int runDemesCli(const CliOptions& o, std::ostream& out, std::ostream& err) {
    if (o.demesFile.empty()) {
        err << "error: --resolve: needs a model file (--demes FILE)\n";
        return 2;
    }
    if (const std::string conflict = conflictingOption(o); !conflict.empty()) {
        err << "error: " << conflict << "\n";
        return 2;
    }
    demes::Model model;
    try {
        model = demes::readModelFile(o.demesFile);
    } catch (const demes::DemesError& e) {
        err << "error: --demes: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << "error: --demes: " << o.demesFile << ": cannot be read: " << e.what() << "\n";
        return 1;
    }
    if (o.resolveDemes) {
        out << demes::resolvedJson(model);
        out.flush();
        return out ? 0 : 1;
    }
    if (const std::string refusal = demes::genealogyRefusal(model); !refusal.empty()) {
        err << "error: --demes: " << o.demesFile << ": " << refusal << "\n";
        return 2;
    }
    err << "error: --demes: simulation of demographic models is not available yet (--resolve "
           "prints the resolved model)\n";
    return 2;
}

} // namespace quenlith
