#include "app/skin/MemoryLoader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quill::skin {
namespace {

// Asks for an executable memory file where the kernel may be set to make
// them non-executable by default; older kernels do not know the flag.
constexpr unsigned kMfdExec = 0x0010;

int createMemoryFile() {
    constexpr unsigned flags = MFD_CLOEXEC | MFD_ALLOW_SEALING;
    int fd = memfd_create("quillskin", flags | kMfdExec);
    if (fd < 0 && errno == EINVAL)
        fd = memfd_create("quillskin", flags);
    return fd;
}

// The image in a sealed memory file, or -1 with error set.
int stage(std::span<const std::byte> image, std::string& error) {
    int fd = createMemoryFile();
    if (fd < 0) {
        error = std::string("memfd_create: ") + std::strerror(errno);
        return -1;
    }
    std::size_t done = 0;
    while (done < image.size()) {
        ssize_t n = write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::string("writing the memory file: ") + std::strerror(errno);
            close(fd);
            return -1;
        }
        done += std::size_t(n);
    }
    // Sealed, the bytes the dynamic loader maps are the bytes checked here.
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        error = std::string("sealing the memory file: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

std::string pathOf(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

MemoryLoader::~MemoryLoader() {
    unloadImage();
}

bool MemoryLoader::loadImage(std::span<const std::byte> image) {
    unloadImage();
    lastError_.clear();
    if (ImageCheck check = checkImage(image); check != ImageCheck::Ok) {
        lastError_ = describe(check);
        return false;
    }
    int fd = stage(image, lastError_);
    if (fd < 0)
        return false;
    // RTLD_NOW: an import that cannot be resolved refuses the image here,
    // not at its first call.
    void* handle = dlopen(pathOf(fd).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        lastError_ = error ? error : "dlopen failed";
        close(fd);
        return false;
    }
    void* linkMap = nullptr;
    dlinfo(handle, RTLD_DI_LINKMAP, &linkMap);
    handle_ = handle;
    linkMap_ = linkMap;
    fd_ = fd;
    return true;
}

bool MemoryLoader::unloadImage() {
    if (!handle_)
        return true;
    const std::string path = pathOf(fd_);
    dlclose(handle_);
    handle_ = nullptr;
    linkMap_ = nullptr;
    if (void* still = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
        dlclose(still);
        // The image stays, under its /proc/self/fd name. The file is left
        // open for good: were its number reused, the dynamic loader would
        // take a later image of that name for this one.
        fd_ = -1;
        return false;
    }
    close(fd_);
    fd_ = -1;
    return true;
}

void* MemoryLoader::getExport(const char* name) const {
    if (!handle_ || !name)
        return nullptr;
    void* address = dlsym(handle_, name);
    if (!address)
        return nullptr;
    // dlsym also finds what the image's dependencies define; only the
    // image's own exports count.
    Dl_info info;
    void* owner = nullptr;
    if (!dladdr1(address, &info, &owner, RTLD_DL_LINKMAP) || owner != linkMap_)
        return nullptr;
    return address;
}

}  // namespace quill::skin
