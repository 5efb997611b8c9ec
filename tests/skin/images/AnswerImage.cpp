// A plain image: initialiser and finaliser report to the running program,
// and one function is exported under a C name and one under a numeric name.
#include "ImageHooks.h"

#ifndef QUILL_IMAGE_LETTER
#error "QUILL_IMAGE_LETTER names the image"
#endif

__attribute__((constructor)) static void started() {
    quill_test_event(QUILL_IMAGE_LETTER);
    quill_test_event('i');
}

__attribute__((destructor)) static void finished() {
    quill_test_event('f');
}

extern "C" __attribute__((visibility("default"))) int quill_test_answer() {
    return 42;
}

// ELF has no ordinals; a symbol may still be called "7".
extern "C" __attribute__((visibility("default"))) int quill_test_seven() __asm__("\"7\"");
extern "C" int quill_test_seven() {
    return 7;
}
