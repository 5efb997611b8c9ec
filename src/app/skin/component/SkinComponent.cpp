// The skin component: a shared library that the program carries inside
// itself and loads from memory. It exports the two functions of SkinApi.h
// and nothing else; everything here is hidden.

#include <QApplication>
#include <QThread>
#include <string_view>

#include "app/skin/SkinApi.h"
#include "app/skin/SkinLook.h"

#define QUILL_SKIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace quill::skin;

LookKeeper& keeper() {
    static LookKeeper instance;
    return instance;
}

bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return qobject_cast<QApplication*>(app) && QThread::currentThread() == app->thread();
}

}  // namespace

QUILL_SKIN_EXPORT int SkinH_AttachRes(const void* data, int length, const char* /*password*/,
                                      int hue, int saturation, int brightness) {
    if (!onGuiThread())
        return SkinNoApplication;
    if (!data || length <= 0)
        return SkinBadData;
    std::optional<Skin> skin =
        parseSkin(std::string_view(static_cast<const char*>(data), std::size_t(length)));
    if (!skin || !keeper().attach(*skin, {hue, saturation, brightness}))
        return SkinBadData;
    return SkinOk;
}

QUILL_SKIN_EXPORT int SkinH_Detach() {
    if (!onGuiThread())
        return SkinNoApplication;
    return keeper().detach() ? SkinOk : SkinNotAttached;
}
