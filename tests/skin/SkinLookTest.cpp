#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>

#include "SampleWindow.h"
#include "app/skin/SkinLook.h"

using namespace quill::skin;

namespace {

const char* const kSkin =
    ".SHE 1\n"
    "[colors]\n"
    "window #336699\n"
    "text   #fafafa\n"
    "[palette]\n"
    "Window window\n"
    "Disabled:WindowText text\n"
    "[style]\n"
    "QPushButton { background: @window; color: @text; border: 2px solid @text; }\n";

Skin parsed(const char* data) {
    std::optional<Skin> skin = parseSkin(data);
    EXPECT_TRUE(skin);
    return skin.value_or(Skin{});
}

// Everything about the application's look that a skin could leave behind.
struct AppLook {
    QPalette palette;
    QPalette::ResolveMask mask;
    bool paletteSet;
    QString styleSheet;
    QString styleName;

    static AppLook now() {
        return {QApplication::palette(), QApplication::palette().resolveMask(),
                QCoreApplication::testAttribute(Qt::AA_SetPalette), qApp->styleSheet(),
                QApplication::style()->name()};
    }
    bool operator==(const AppLook& o) const {
        return palette == o.palette && mask == o.mask && paletteSet == o.paletteSet &&
               styleSheet == o.styleSheet && styleName == o.styleName;
    }
};

}  // namespace

TEST(SkinLook, ShiftsColours) {
    struct Case {
        QColor from;
        Shift shift;
        QColor to;
    };
    const Case cases[] = {
        {QColor(0x2c, 0x64, 0xa8), {0, 0, 0}, QColor(0x2c, 0x64, 0xa8)},
        {QColor(0x2c, 0x64, 0xa8), {360, 0, 0}, QColor(0x2c, 0x64, 0xa8)},
        {Qt::red, {120, 0, 0}, Qt::green},
        {Qt::red, {-120, 0, 0}, Qt::blue},
        {Qt::red, {480, 0, 0}, Qt::green},
        {QColor(128, 128, 128), {90, 0, 0}, QColor(128, 128, 128)},  // grey has no hue
        {Qt::red, {0, -100, 0}, QColor(128, 128, 128)},
        {QColor(191, 64, 64), {0, 100, 0}, QColor(255, 0, 0)},
        {QColor(191, 64, 64), {0, 250, 0}, QColor(255, 0, 0)},  // clamped to 100
        {Qt::red, {0, 0, 100}, Qt::white},
        {Qt::red, {0, 0, -100}, Qt::black},
    };
    for (const Case& c : cases) {
        QColor got = shiftColor(c.from, c.shift);
        EXPECT_EQ(got.rgb(), c.to.rgb())
            << c.from.name().toStdString() << " shifted " << c.shift.hue << "/"
            << c.shift.saturation << "/" << c.shift.brightness << " gave "
            << got.name().toStdString();
    }
}

TEST(SkinLook, BuildsOverTheBasePalette) {
    QPalette base;
    base.setColor(QPalette::Text, Qt::darkGreen);
    std::optional<Look> look = buildLook(parsed(kSkin), {}, base);
    ASSERT_TRUE(look);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        EXPECT_EQ(look->palette.color(group, QPalette::Window), QColor(0x336699));
    EXPECT_EQ(look->palette.color(QPalette::Disabled, QPalette::WindowText), QColor(0xfafafa));
    EXPECT_EQ(look->palette.color(QPalette::Active, QPalette::WindowText),
              base.color(QPalette::WindowText));
    EXPECT_EQ(look->palette.color(QPalette::Text), Qt::darkGreen);
    EXPECT_EQ(look->styleSheet,
              "QPushButton { background: #336699; color: #fafafa; border: 2px solid #fafafa; }\n");

    std::optional<Look> turned = buildLook(parsed(kSkin), {180, 0, 0}, base);
    ASSERT_TRUE(turned);
    QColor window = shiftColor(QColor(0x336699), {180, 0, 0});
    EXPECT_EQ(turned->palette.color(QPalette::Window).rgb(), window.rgb());
    EXPECT_TRUE(turned->styleSheet.contains(window.name()));

    EXPECT_FALSE(
        buildLook(parsed(".SHE 1\n[colors]\na #000000\n[palette]\nNoSuchRole a\n"), {}, base));
    EXPECT_FALSE(
        buildLook(parsed(".SHE 1\n[colors]\na #000000\n[palette]\nNColorRoles a\n"), {}, base));
}

TEST(SkinLook, DetachRestoresTheOwnLookExactly) {
    struct Start {
        const char* what;
        QString styleSheet;
        bool ownPalette;
    };
    const Start starts[] = {
        {"platform look", QString(), false},
        {"program's own palette and style sheet", "QLabel { color: #884400; }", true},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.what);
        qApp->setStyleSheet(start.styleSheet);
        if (start.ownPalette) {
            QPalette own = QApplication::palette();
            own.setColor(QPalette::Base, QColor(0xeeffee));
            QApplication::setPalette(own);
        }
        auto window = quill::test::makeSampleWindow();
        window->show();
        const AppLook before = AppLook::now();
        const QImage plain = quill::test::snapshot(*window);

        LookKeeper keeper;
        EXPECT_FALSE(keeper.detach());
        ASSERT_TRUE(keeper.attach(parsed(kSkin), {90, 0, 0}));
        // Attaching again starts from the own look, not from the first skin.
        ASSERT_TRUE(keeper.attach(parsed(kSkin), {}));
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(0x336699));
        EXPECT_NE(quill::test::snapshot(*window), plain);

        EXPECT_TRUE(keeper.detach());
        EXPECT_FALSE(keeper.attached());
        EXPECT_TRUE(AppLook::now() == before);
        EXPECT_EQ(quill::test::snapshot(*window), plain);

        window.reset();
        qApp->setStyleSheet(QString());
        QApplication::setPalette(QPalette());
    }
}

TEST(SkinLook, RefusedSkinChangesNothing) {
    const AppLook before = AppLook::now();
    LookKeeper keeper;
    EXPECT_FALSE(
        keeper.attach(parsed(".SHE 1\n[colors]\na #000000\n[palette]\nWindowish a\n"), {}));
    EXPECT_FALSE(keeper.attached());
    EXPECT_TRUE(AppLook::now() == before);
}
