// Stands in for the skin component: records what the engine passes.
#include "ImageHooks.h"

extern "C" __attribute__((visibility("default"))) int SkinH_AttachRes(const void* data, int length,
                                                                      const char* password, int hue,
                                                                      int saturation,
                                                                      int brightness) {
    QuillTestAttachCall call{data, length, password, hue, saturation, brightness};
    quill_test_record_attach(&call);
    return 11;
}

extern "C" __attribute__((visibility("default"))) int SkinH_Detach() {
    quill_test_record_detach();
    return 12;
}
