// Image saving for a build without the window's drawing library.
#include "run/run_driver.h"

#include <string>

namespace quenlith {

bool loadImageSaving(std::string& error) {
    error = "this build of quenlith-cli cannot save images";
    return false;
}

bool saveGenealogyImage(const RunOutcome&, const std::string&, std::string& error) {
    return loadImageSaving(error);
}

} // namespace quenlith
