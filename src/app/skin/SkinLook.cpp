#include "app/skin/SkinLook.h"

#include <QApplication>
#include <QMetaEnum>
#include <algorithm>
#include <cmath>
#include <vector>

namespace quill::skin {
namespace {

// Moves v (0..1) the given percentage of the way to 1, or to 0 when negative.
float towards(float v, int percent) {
    float p = static_cast<float>(std::clamp(percent, -100, 100)) / 100.0f;
    return p >= 0 ? v + (1.0f - v) * p : v + v * p;
}

template <class Enum>
std::optional<Enum> enumKey(const std::string& key, int limit) {
    bool ok = false;
    int value = QMetaEnum::fromType<Enum>().keyToValue(key.c_str(), &ok);
    if (!ok || value < 0 || value >= limit)
        return std::nullopt;
    return static_cast<Enum>(value);
}

QApplication* application() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

}  // namespace

QColor shiftColor(const QColor& color, const Shift& shift) {
    int hue = shift.hue % 360;
    if (hue == 0 && shift.saturation == 0 && shift.brightness == 0)
        return color;
    float h = 0, s = 0, l = 0, a = 0;
    color.getHslF(&h, &s, &l, &a);
    if (h >= 0 && hue != 0) {  // achromatic colours (h == -1) have no hue to turn
        h += static_cast<float>(hue) / 360.0f;
        h -= std::floor(h);
    }
    return QColor::fromHslF(h, towards(s, shift.saturation), towards(l, shift.brightness), a);
}

std::optional<Look> buildLook(const Skin& skin, const Shift& shift, const QPalette& base) {
    std::vector<std::uint32_t> colors;
    colors.reserve(skin.colors.size());
    for (const SkinColor& c : skin.colors)
        colors.push_back(shiftColor(QColor::fromRgb(c.rgb), shift).rgb() & 0xFFFFFF);

    Look look{base, QString::fromUtf8(expandStyle(skin, colors))};
    for (const PaletteEntry& entry : skin.palette) {
        auto role = enumKey<QPalette::ColorRole>(entry.role, QPalette::NColorRoles);
        if (!role)
            return std::nullopt;
        QColor color = QColor::fromRgb(colors[entry.color]);
        if (entry.group.empty()) {
            look.palette.setColor(*role, color);
            continue;
        }
        auto group = enumKey<QPalette::ColorGroup>(entry.group, QPalette::NColorGroups);
        if (!group)
            return std::nullopt;
        look.palette.setColor(*group, *role, color);
    }
    return look;
}

bool LookKeeper::attach(const Skin& skin, const Shift& shift) {
    QApplication* app = application();
    if (!app)
        return false;
    // Always build over the application's own palette, so that attaching
    // again does not shift an already shifted look.
    QPalette own = ownPalette_ ? *ownPalette_ : QApplication::palette();
    std::optional<Look> look = buildLook(skin, shift, own);
    if (!look)
        return false;
    if (!ownPalette_) {
        ownPalette_ = own;
        ownStyleSheet_ = app->styleSheet();
    }
    QApplication::setPalette(look->palette);
    app->setStyleSheet(look->styleSheet);
    return true;
}

bool LookKeeper::detach() {
    if (!ownPalette_)
        return false;
    if (QApplication* app = application()) {
        // Palette first: widgets that a style sheet polishes keep the
        // palette they had at that moment, so the own sheet must not meet
        // the skin's palette.
        QApplication::setPalette(*ownPalette_);
        app->setStyleSheet(ownStyleSheet_);
    }
    ownPalette_.reset();
    ownStyleSheet_.clear();
    return true;
}

}  // namespace quill::skin
