#pragma once

#include <string>

namespace quill::sqlcmd {

// The resume journal (console::formatJournal's fixed-width entry at offset
// 0), rewritten after every batch. Each rewrite must be whole whenever the
// process dies. With a write(2) per batch that costs a system call per
// batch, about a tenth of a run of one-statement batches on this machine;
// so where the processor can store the whole entry with one instruction (a
// 64-byte AVX-512 store into a shared mapping of the file), it does that
// instead, and falls back to one pwrite(2) otherwise. The file is created
// when missing and never made shorter.
class Journal {
public:
    // Nothing happens for an empty path or a file that cannot be opened.
    // `mapped` false: pwrite(2) whatever the processor.
    explicit Journal(const std::string& path, bool mapped = true);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    void write(long nextBatch, long nextLine);

private:
    int fd_ = -1;
    void* map_ = nullptr;  // the file's first page, where one store writes a whole entry
};

}  // namespace quill::sqlcmd
