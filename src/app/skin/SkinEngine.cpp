#include "app/skin/SkinEngine.h"

#include "app/skin/EmbeddedBlocks.h"
#include "app/skin/SkinApi.h"
#include "app/skin/SkinFormat.h"

namespace quill::skin {

SkinEngine::SkinEngine() : SkinEngine(embeddedSkinLibrary()) {}

SkinEngine::SkinEngine(std::span<const std::byte> libraryImage) : libraryImage_(libraryImage) {}

bool SkinEngine::loadSkinLibrary() {
    return loader_.loadImage(libraryImage_);
}

int SkinEngine::attachSkinFromMemory(QByteArrayView skinData, const QString& password, int hue,
                                     int saturation, int brightness) {
    skinData_ = skinData.toByteArray();
    hue_ = hue;
    saturation_ = saturation;
    brightness_ = brightness;
    auto attach = reinterpret_cast<SkinAttachResFn>(loader_.getExport(kAttachExport));
    if (!attach)
        return kSkipped;
    // The component takes an int length: refuse here what it would refuse
    // anyway rather than let the length wrap.
    if (std::size_t(skinData.size()) > kMaxSkinBytes)
        return SkinBadData;
    const QByteArray passwordBytes = password.toUtf8();
    return attach(skinData.data(), int(skinData.size()),
                  password.isEmpty() ? nullptr : passwordBytes.constData(), hue, saturation,
                  brightness);
}

int SkinEngine::detachSkin() {
    skinData_.clear();
    auto detach = reinterpret_cast<SkinDetachFn>(loader_.getExport(kDetachExport));
    return detach ? detach() : kSkipped;
}

void attachProgramSkin(SkinEngine& engine) {
    engine.loadSkinLibrary();
    std::span<const std::byte> data = embeddedSkinData();
    engine.attachSkinFromMemory(QByteArrayView(data.data(), qsizetype(data.size())), QString(), 0,
                                0, 0);
}

}  // namespace quill::skin
