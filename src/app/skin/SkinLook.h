#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <optional>

#include "app/skin/SkinFormat.h"

namespace quill::skin {

// Hue in degrees, saturation and brightness in percent of the way to full
// (positive) or to none (negative). All zero leaves colours untouched.
struct Shift {
    int hue = 0;
    int saturation = 0;
    int brightness = 0;
};

QColor shiftColor(const QColor& color, const Shift& shift);

struct Look {
    QPalette palette;
    QString styleSheet;
};

// The look a skin gives over the base palette: the roles the skin names take
// its (shifted) colours, the others keep the base's. Empty when the skin
// names a role Qt does not know.
std::optional<Look> buildLook(const Skin& skin, const Shift& shift, const QPalette& base);

// Puts a skin on the running QApplication and takes it off again. The
// application's own palette and style sheet are kept at the first attach
// and restored as they were by detach.
class LookKeeper {
public:
    bool attached() const { return ownPalette_.has_value(); }
    // False, with nothing changed, when the skin cannot be built.
    bool attach(const Skin& skin, const Shift& shift);
    // False when no skin is attached.
    bool detach();

private:
    std::optional<QPalette> ownPalette_;
    QString ownStyleSheet_;
};

}  // namespace quill::skin
