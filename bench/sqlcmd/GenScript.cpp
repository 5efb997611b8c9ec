// Writes the benchmark scripts: gen-script inserts PATH ROWS GO_EVERY [utf16]
//                                gen-script large PATH TOTAL_MB BATCH_KB
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ScriptGen.h"

int main(int argc, char** argv) {
    using namespace quill::test;
    if (argc >= 5 && std::strcmp(argv[1], "inserts") == 0) {
        InsertScript script;
        script.rows = std::atol(argv[3]);
        script.goEvery = std::atol(argv[4]);
        script.utf16 = argc > 5 && std::strcmp(argv[5], "utf16") == 0;
        writeInsertScript(argv[2], script);
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "large") == 0) {
        writeLargeBatchScript(argv[2], std::strtoull(argv[3], nullptr, 10) << 20,
                              std::strtoull(argv[4], nullptr, 10) << 10);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: %s inserts PATH ROWS GO_EVERY [utf16] | large PATH TOTAL_MB BATCH_KB\n",
                 argv[0]);
    return 2;
}
