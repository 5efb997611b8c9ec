#pragma once

#include <cstddef>
#include <string>

namespace quill::test {

// SSMS-style "Generate Scripts" output for benchmarks and end-to-end tests.
struct InsertScript {
    std::string database = "QuillBench";
    long rows = 1000;
    long goEvery = 1000;  // a GO after this many INSERT lines
    bool utf16 = false;   // UTF-16LE with a byte-order mark, as SSMS saves "Unicode text"
    bool crlf = true;
};

// Writes the script; returns its size in bytes.
std::size_t writeInsertScript(const std::string& path, const InsertScript& script);

// totalBytes / batchBytes batches of about `batchBytes` each: mostly a
// block comment, then a PRINT of the batch number. Tests the client's
// memory, not the server.
std::size_t writeLargeBatchScript(const std::string& path, std::size_t totalBytes,
                                  std::size_t batchBytes);

}  // namespace quill::test
