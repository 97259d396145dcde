#include "run/arlequin_projects.h"

#include "output/arlequin.h"

#include <unistd.h>

namespace quenlith {

void ArlequinProjects::formatted(int32_t s, const std::string& project) {
    if (!batch_ || !onWorkers_) return;
    {
        // Recorded first: a project that fails half-way is removed with the rest.
        std::lock_guard lock(mutex_);
        unwritten_[s] = arlequinProjectPath(workDir_, s);
    }
    writeArlequinProjectFile(workDir_, s, project, written_);
}

void ArlequinProjects::write(int32_t s, const std::string& project) {
    if (!batch_) return;
    if (!onWorkers_) {
        writeArlequinProject(*batch_, workDir_, s, project);
        return;
    }
    appendArlequinBatchLine(*batch_, workDir_, s);
    std::lock_guard lock(mutex_);
    unwritten_.erase(s);
}

void ArlequinProjects::discardUnwritten() {
    std::lock_guard lock(mutex_);
    for (const auto& entry : unwritten_)
        ::unlink(entry.second.c_str());
    unwritten_.clear();
}

} // namespace quenlith
