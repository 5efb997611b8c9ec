#include "Journal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "console/StatusChannel.h"

namespace quill::sqlcmd {

namespace {

constexpr std::size_t kLine = 64;  // one store, one cache line

#if defined(__x86_64__)
// Blends the entry into the first 64 bytes of the page and writes them back
// with a single aligned store: a process that dies leaves either the old
// entry or the new one, never a mix.
__attribute__((target("avx512f"))) void storeWhole(void* page, const std::string& entry) {
    alignas(64) unsigned char line[kLine];
    _mm512_store_si512(line, _mm512_load_si512(page));
    std::memcpy(line, entry.data(), entry.size());
    _mm512_store_si512(page, _mm512_load_si512(line));
}

bool canStoreWhole() {
    return __builtin_cpu_supports("avx512f");
}
#else
void storeWhole(void*, const std::string&) {}
bool canStoreWhole() {
    return false;
}
#endif

}  // namespace

Journal::Journal(const std::string& path, bool mapped) {
    if (path.empty()) {
        return;
    }
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0 || !mapped || !canStoreWhole()) {
        return;
    }
    const std::size_t entry = console::formatJournal({1, 1}).size();
    struct stat st;
    if (entry > kLine || ::fstat(fd_, &st) != 0 ||
        (static_cast<std::size_t>(st.st_size) < entry &&
         ::ftruncate(fd_, static_cast<off_t>(entry)) != 0)) {
        return;
    }
    void* map = ::mmap(nullptr, kLine, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map != MAP_FAILED) {
        map_ = map;
    }
}

Journal::~Journal() {
    if (map_) {
        ::munmap(map_, kLine);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Journal::write(long nextBatch, long nextLine) {
    if (fd_ < 0) {
        return;
    }
    const std::string entry = console::formatJournal({nextBatch, nextLine});
    if (map_) {
        storeWhole(map_, entry);
        return;
    }
    // One write: whoever reads the journal after a kill sees a whole entry.
    while (::pwrite(fd_, entry.data(), entry.size(), 0) < 0 && errno == EINTR) {
    }
}

}  // namespace quill::sqlcmd
