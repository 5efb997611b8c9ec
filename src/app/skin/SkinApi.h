#pragma once

// The C interface of the skin component (libquillskin.so), shared by the
// component and its caller. The caller finds the functions by name.

extern "C" {

// Applies the skin in data[0..length) to the whole application, its colours
// shifted by hue (degrees, turned modulo 360), saturation and brightness
// (percent, -100..100; values beyond are clamped). Attaching again replaces the skin.
// password is for skins with protected content; format version 1 has none,
// so it is not used. Call on the GUI thread.
using SkinAttachResFn = int (*)(const void* data, int length, const char* password, int hue,
                                int saturation, int brightness);

// Removes the skin: the application gets back exactly the palette and style
// sheet it had before the first attach.
using SkinDetachFn = int (*)();

}  // extern "C"

namespace quill::skin {

inline constexpr const char* kAttachExport = "SkinH_AttachRes";
inline constexpr const char* kDetachExport = "SkinH_Detach";

// Results of the two functions.
enum SkinResult : int {
    SkinOk = 0,
    SkinNoApplication = 1,  // no QApplication, or called off its thread
    SkinBadData = 2,        // the skin data was refused; the look is unchanged
    SkinNotAttached = 3,    // detach without a skin attached
};

}  // namespace quill::skin
