// Imports a function that nothing in the running program defines.
extern "C" int quill_test_nowhere();

extern "C" __attribute__((visibility("default"))) int quill_test_call_nowhere() {
    return quill_test_nowhere();
}
