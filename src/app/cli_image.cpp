// Image saving for quenlith-cli. The drawing is computed here, without Qt; painting it and
// writing the BMP is left to the image module, which brings Qt in and is loaded only when an
// image is asked for. The module is looked up relative to the program itself, never on a
// search path: in the installed library folder (QUENLITH_IMAGE_MODULE_DIR, relative to the
// program's folder), then beside the program (the build tree).
#include "app/genealogy_browser.h"
#include "app/image_module.h"
#include "run/run_driver.h"

#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef QUENLITH_IMAGE_MODULE_DIR
#define QUENLITH_IMAGE_MODULE_DIR "../lib/quenlith/modules"
#endif

namespace quenlith {

namespace {

QuenlithSaveBmpFunction saveBmp = nullptr;

std::string programDirectory() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
    path.resize(static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Keeps the primitives of a drawing in their order, texts and lines mixed.
class ItemSink : public DrawingSink {
  public:
    void line(const DrawLine& l) override {
        items_.push_back({0, l.x1, l.y1, l.x2, l.y2, l.colour, l.width, nullptr});
    }
    void text(const DrawText& t) override {
        texts_.push_back(t.text);
        items_.push_back({1, t.x, t.y, 0, 0, t.colour, t.pointSize, nullptr});
    }
    // The items, with their texts pointing into this sink.
    const std::vector<QuenlithImageItem>& items() {
        size_t next = 0;
        for (QuenlithImageItem& it : items_)
            if (it.isText) it.text = texts_[next++].c_str();
        return items_;
    }

  private:
    std::vector<QuenlithImageItem> items_;
    std::vector<std::string> texts_;
};

} // namespace

bool loadImageSaving(std::string& error) {
    if (saveBmp) return true;
    const std::string dir = programDirectory();
    if (dir.empty()) {
        error = "cannot save images: the folder of quenlith-cli is not known";
        return false;
    }
    const std::string candidates[] = {
        dir + "/" + QUENLITH_IMAGE_MODULE_DIR + "/" + kImageModuleFile,
        dir + "/" + kImageModuleFile,
    };
    for (const std::string& path : candidates) {
        if (::access(path.c_str(), F_OK) != 0) continue;
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* why = ::dlerror();
            error = "cannot load the image module " + path + ": " + (why ? why : "unknown error");
            return false;
        }
        // The module stays loaded: Qt is not made to be unloaded.
        saveBmp = reinterpret_cast<QuenlithSaveBmpFunction>(::dlsym(module, kImageModuleEntry));
        if (!saveBmp) {
            error = "the image module " + path + " does not provide " + kImageModuleEntry +
                    " (a module of another version of quenlith-cli?)";
            return false;
        }
        return true;
    }
    error = std::string("cannot save images: the image module ") + kImageModuleFile +
            " is not installed (looked for " + candidates[0] + " and " + candidates[1] + ")";
    return false;
}

bool saveGenealogyImage(const RunOutcome& outcome, const std::string& path, std::string& error) {
    if (!loadImageSaving(error)) return false;
    ItemSink sink;
    if (hasGenealogyToDraw(outcome))
        drawGenealogy(lastGenealogyPicture(outcome, outcome.drawMutations), sink);
    const std::vector<QuenlithImageItem>& items = sink.items();
    char message[1024] = {};
    if (saveBmp(items.data(), items.size(), path.c_str(), message, sizeof message) != 0) {
        error = message;
        return false;
    }
    return true;
}

} // namespace quenlith
