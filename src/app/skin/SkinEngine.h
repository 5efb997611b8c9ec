#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <span>

#include "app/skin/MemoryLoader.h"

namespace quill::skin {

// The program-wide wrapper of the skin component: loads the component from
// its embedded image and calls its attach and detach functions.
class SkinEngine {
public:
    // What attach and detach return when the component lacks the function
    // (or is not loaded) and the call is skipped.
    static constexpr int kSkipped = -1;

    // The engine of the program loads the embedded component; tests give
    // it other images.
    SkinEngine();
    explicit SkinEngine(std::span<const std::byte> libraryImage);

    // Loads the component image, unloading a loaded one first.
    bool loadSkinLibrary();

    // Keeps a copy of the skin data and the shift, then has the component
    // apply the skin. An empty password reaches the component as nullptr.
    int attachSkinFromMemory(QByteArrayView skinData, const QString& password, int hue,
                             int saturation, int brightness);

    // Forgets the kept skin data and has the component remove the skin.
    // The component stays loaded.
    int detachSkin();

    const MemoryLoader& loader() const { return loader_; }
    const QByteArray& skinData() const { return skinData_; }
    int hue() const { return hue_; }
    int saturation() const { return saturation_; }
    int brightness() const { return brightness_; }

private:
    std::span<const std::byte> libraryImage_;
    MemoryLoader loader_;
    QByteArray skinData_;
    int hue_ = 0;
    int saturation_ = 0;
    int brightness_ = 0;
};

// Gives the window its skin: loads the embedded component and attaches the
// embedded skin, unshifted. Outcomes are not looked at: without the
// component the program keeps the platform look.
void attachProgramSkin(SkinEngine& engine);

}  // namespace quill::skin
