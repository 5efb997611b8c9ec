#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "app/skin/ImageCheck.h"

namespace quill::skin {

// Loads a shared library from a byte block without writing any file: the
// block goes into a sealed anonymous memory file that the dynamic loader
// opens through /proc/self/fd. The dynamic loader maps it, resolves its
// imports against the running program and runs its initialisers.
// One image at a time; use from one thread.
class MemoryLoader {
public:
    MemoryLoader() = default;
    ~MemoryLoader();
    MemoryLoader(const MemoryLoader&) = delete;
    MemoryLoader& operator=(const MemoryLoader&) = delete;

    // Unloads the loaded image first, then loads this one. False, with
    // nothing loaded, when the image fails checkImage, when an import cannot
    // be resolved, or when the dynamic loader refuses it otherwise.
    bool loadImage(std::span<const std::byte> image);

    // Runs the image's finalisers and releases it. True when nothing is
    // loaded afterwards; false when the image stays in the process (some
    // other reference keeps it, or it cannot be unloaded).
    bool unloadImage();

    // The address of a symbol that the loaded image itself defines and
    // exports, or nullptr. A numeric name is a name like any other.
    void* getExport(const char* name) const;

    bool loaded() const { return handle_ != nullptr; }

    // Why the last loadImage refused its image; empty after a load.
    const std::string& lastError() const { return lastError_; }

private:
    void* handle_ = nullptr;
    void* linkMap_ = nullptr;  // the image's own entry in the loader's list
    int fd_ = -1;              // the memory file, open while the image is loaded
    std::string lastError_;
};

}  // namespace quill::skin
