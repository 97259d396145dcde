#include "run/arlequin_projects.h"

#include "output/arlequin.h"
#include "run/output_files.h"

#include <unistd.h>

namespace quenlith {

void tallyProject(WriteTally& tally, int64_t s, std::string_view content) {
    tally.addUncounted("sim_" + std::to_string(s) + ".arp");
    tally.addUncounted(std::string_view("\0", 1));
    tally.addUncounted(std::to_string(content.size()));
    tally.addUncounted(std::string_view("\0", 1));
    tally.add(content);
}

ArlequinProjects::ArlequinProjects(BlockFile* batch, std::string workDir, bool onWorkers,
                                   WrittenFiles* written)
    : batch_(batch), workDir_(std::move(workDir)), onWorkers_(onWorkers), written_(written) {
    if (batch_ && written_) tally_ = written_->groupTally(joinPath(workDir_, kProjectsEntry));
}

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
    } else {
        appendArlequinBatchLine(*batch_, workDir_, s);
        std::lock_guard lock(mutex_);
        unwritten_.erase(s);
    }
    // The project's file is whole: the worker's write succeeded, or this thread's did.
    if (tally_) tallyProject(*tally_, s, project);
}

void ArlequinProjects::discardUnwritten() {
    std::lock_guard lock(mutex_);
    for (const auto& entry : unwritten_)
        ::unlink(entry.second.c_str());
    unwritten_.clear();
}

} // namespace quenlith
