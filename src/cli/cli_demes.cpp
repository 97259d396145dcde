#include "cli/cli_demes.h"

#include "base/file_io.h"
#include "demography/demes_reader.h"

namespace quenlith {

int runDemesCli(const CliOptions& o, std::ostream& out, std::ostream& err) {
    if (!o.form.chkDemes) {
        err << "error: --resolve: needs a model file (--demes FILE)\n";
        return 2;
    }
    demes::Model model;
    try {
        model = demes::readModelFile(joinPath(o.form.WorkDir, o.form.edtDemes));
    } catch (const demes::DemesError& e) {
        err << "error: --demes: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << "error: --demes: " << o.form.edtDemes << ": cannot be read: " << e.what() << "\n";
        return 1;
    }
    out << demes::resolvedJson(model);
    out.flush();
    return out ? 0 : 1;
}

} // namespace quenlith
