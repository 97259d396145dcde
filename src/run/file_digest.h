#pragma once
// Digests of files: the sizes and SHA-256 (nettle) that a slice's manifest records of its
// files, so that a join can tell a file that was cut, emptied or changed after its run.
#include "base/sha256.h"

#include <atomic>
#include <string>

namespace quenlith {

// The size and SHA-256 of a regular file, read a block at a time. Errors as readWholeFile;
// RunStopped when `stop` is set between blocks.
FileDigest digestFile(const std::string& path, const std::atomic<bool>* stop = nullptr);

} // namespace quenlith
