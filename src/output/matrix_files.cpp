#include "output/matrix_files.h"

#include "base/file_io.h"
#include "output/decimal.h"

#include <cstdlib>
#include <string_view>

namespace quenlith {

void appendMatrixRecord(int32_t n, const Genealogy& g, std::string& tree, std::string& mut) {
    std::string header = "#";
    appendDecimal(header, n);
    header += "\r\n";
    tree += header;
    for (const CoalEvent& e : g.CoalEvents) {
        appendDecimal(tree, e.generation);
        tree += ' ';
        appendDecimal(tree, e.first);
        tree += ' ';
        appendDecimal(tree, e.second);
        tree += " \r\n";
    }
    mut += header;
    for (const MutEvent& m : g.MutEvents) {
        appendDecimal(mut, m.generation);
        mut += ' ';
        appendDecimal(mut, m.position);
        mut += " \r\n";
    }
}

namespace {

// Reads whitespace-separated integers after the header line "#n".
class RecordReader {
  public:
    RecordReader(std::string content, int32_t n) : text_(std::move(content)) {
        std::string header = "#";
        appendDecimal(header, n);
        size_t pos = 0;
        while (pos < text_.size()) {
            size_t end = text_.find_first_of("\r\n", pos);
            if (end == std::string::npos) end = text_.size();
            if (std::string_view(text_).substr(pos, end - pos) == header) {
                pos_ = end;
                skipLineEnd();
                found_ = true;
                return;
            }
            pos = end;
            if (pos < text_.size() && text_[pos] == '\r') ++pos;
            if (pos < text_.size() && text_[pos] == '\n') ++pos;
        }
    }
    bool found() const { return found_; }

    bool readInt(int32_t& value) {
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= ' ')
            ++pos_;
        if (pos_ >= text_.size()) return false;
        const char* start = text_.c_str() + pos_;
        char* end = nullptr;
        const long v = std::strtol(start, &end, 10);
        if (end == start) return false;
        value = static_cast<int32_t>(v);
        pos_ += static_cast<size_t>(end - start);
        return true;
    }

    void skipLine() {
        while (pos_ < text_.size() && text_[pos_] != '\r' && text_[pos_] != '\n')
            ++pos_;
        skipLineEnd();
    }

  private:
    void skipLineEnd() {
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    }
    std::string text_;
    size_t pos_ = 0;
    bool found_ = false;
};

} // namespace

bool readMatrixRecord(const std::string& workDir, int32_t n, int32_t k, int32_t mutationCount,
                      Genealogy& g) {
    RecordReader tree(readWholeFile(joinPath(workDir, kTreeMatFile)), n);
    if (!tree.found()) return false;
    Genealogy loaded;
    loaded.SampleSize = k;
    for (int32_t e = 0; e + 1 < k; ++e) {
        CoalEvent ev{};
        if (!tree.readInt(ev.generation) || !tree.readInt(ev.first) || !tree.readInt(ev.second))
            return false;
        // Positions that do not fit the sample cannot come from this run.
        if (ev.first < 0 || ev.first > k - 2 - e || ev.second != ev.first + 1) return false;
        tree.skipLine();
        loaded.CoalEvents.push_back(ev);
    }
    RecordReader mut(readWholeFile(joinPath(workDir, kMutMatFile)), n);
    if (!mut.found()) return false;
    for (int32_t m = 0; m < mutationCount; ++m) {
        MutEvent ev{};
        if (!mut.readInt(ev.generation) || !mut.readInt(ev.position)) return false;
        mut.skipLine();
        loaded.MutEvents.push_back(ev);
    }
    loaded.Generation = loaded.tmrca();
    loaded.rebuildTree();
    g = std::move(loaded);
    return true;
}

} // namespace quenlith
