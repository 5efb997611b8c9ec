#pragma once

// What the test images call back into: defined by the test executables,
// so the images' imports are resolved against the running program.
extern "C" {

struct QuillTestAttachCall {
    const void* data;
    int length;
    const char* password;
    int hue;
    int saturation;
    int brightness;
};

// Appends one event letter to the log: 'i' initialiser, 'f' finaliser, and
// the letter of the image as it starts ('A', 'B').
void quill_test_event(char event);
void quill_test_record_attach(const QuillTestAttachCall* call);
void quill_test_record_detach();
}
