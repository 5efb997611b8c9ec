// Scans arbitrary bytes as a dropped script, with a code page chosen by the
// first byte, and checks what must hold whatever the input: the facts stay
// within the file, and every path found is one the quick test lets through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "preflight/DatabaseFiles.h"
#include "preflight/ScriptScanner.h"

using namespace quill::preflight;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static constexpr int kCodePages[] = {0, 0, 0, 0, 936, 54936, 950, 1252, 1200, 1201, 65001};
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::vector<DatabaseFile> files = findDatabaseFiles(input);
    if (!files.empty())
        check(mayNameDatabaseFiles(input));
    for (const DatabaseFile& f : files)
        check(f.line >= 1 && f.path.size() <= input.size());

    MemorySource source(input);
    ScanOptions options;
    options.codePage = kCodePages[data[0] % std::size(kCodePages)];
    long counted = 0;
    options.onBatch = [&](long number, long startLine) {
        check(number == ++counted && startLine >= 1);
    };
    const ScriptFacts facts = scanScript(source, options);
    check(facts.size == input.size());
    // The callbacks hear of the one reading that decoded, and of all of it.
    check(facts.decodeFailure ? counted == 0 || counted == facts.batches
                              : counted == facts.batches);
    check(facts.largestBatch <= facts.batches && facts.largestBatchBytes <= 4 * input.size());
    check(facts.lines <= static_cast<long>(input.size()));
    if (facts.decodeFailure)
        check(facts.decodeFailure->offset <= input.size() && facts.decodeFailure->line >= 1);
    if (facts.needsCodePage)
        check(facts.decodeFailure.has_value() && options.codePage == 0);
    for (const DatabaseFile& f : facts.databaseFiles)
        check(f.line >= 1 && f.line <= facts.lines + 1);
    return 0;
}
