#include <gtest/gtest.h>

#include <QApplication>
#include <thread>

#include "SampleWindow.h"
#include "TestImages.h"
#include "app/skin/EmbeddedBlocks.h"
#include "app/skin/SkinApi.h"
#include "app/skin/SkinEngine.h"
#include "app/skin/SkinFormat.h"
#include "app/skin/SkinLook.h"

using namespace quill::skin;
using quill::test::imageLog;
using quill::test::testImage;

namespace {

QByteArray embeddedSkin() {
    std::span<const std::byte> data = embeddedSkinData();
    return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

// The window colour the embedded skin names.
const QColor kSkinWindow(0xe6edf5);

class RecorderEngineTest : public testing::Test {
protected:
    void SetUp() override {
        image = testImage("recorder");
        ASSERT_FALSE(image.isEmpty());
        imageLog() = {};
    }
    QByteArray image;
};

}  // namespace

TEST_F(RecorderEngineTest, PassesTheArgumentsAndKeepsItsCopy) {
    SkinEngine engine(quill::test::bytes(image));
    ASSERT_TRUE(engine.loadSkinLibrary());

    QByteArray data = ".SHE skin bytes";
    EXPECT_EQ(engine.attachSkinFromMemory(data, QString(), -30, 40, -50), 11);
    ASSERT_EQ(imageLog().attaches.size(), 1u);
    const quill::test::RecordedAttach& call = imageLog().attaches[0];
    EXPECT_EQ(call.data, data.constData());
    EXPECT_EQ(call.length, data.size());
    EXPECT_EQ(call.password, std::nullopt);
    EXPECT_EQ(call.hue, -30);
    EXPECT_EQ(call.saturation, 40);
    EXPECT_EQ(call.brightness, -50);
    EXPECT_EQ(engine.skinData(), data);
    EXPECT_NE(engine.skinData().constData(), data.constData());
    EXPECT_EQ(engine.hue(), -30);
    EXPECT_EQ(engine.saturation(), 40);
    EXPECT_EQ(engine.brightness(), -50);

    engine.attachSkinFromMemory(data, "密码", 0, 0, 0);
    EXPECT_EQ(imageLog().attaches.at(1).password, std::optional<std::string>("密码"));

    // Beyond what a skin may be, the call is not made.
    EXPECT_EQ(engine.attachSkinFromMemory(QByteArray(kMaxSkinBytes + 1, '#'), QString(), 0, 0, 0),
              SkinBadData);
    EXPECT_EQ(imageLog().attaches.size(), 2u);

    EXPECT_EQ(engine.detachSkin(), 12);
    EXPECT_EQ(imageLog().detaches, 1);
    EXPECT_TRUE(engine.skinData().isEmpty());
    EXPECT_TRUE(engine.loader().loaded());
}

TEST_F(RecorderEngineTest, SkipsCallsWithoutTheExports) {
    SkinEngine unloaded(quill::test::bytes(image));
    EXPECT_EQ(unloaded.attachSkinFromMemory("abc", QString(), 5, 6, 7), SkinEngine::kSkipped);
    EXPECT_EQ(unloaded.skinData(), "abc");
    EXPECT_EQ(unloaded.hue(), 5);
    EXPECT_EQ(unloaded.detachSkin(), SkinEngine::kSkipped);

    QByteArray plain = testImage("answer_a");
    SkinEngine withoutExports(quill::test::bytes(plain));
    ASSERT_TRUE(withoutExports.loadSkinLibrary());
    EXPECT_EQ(withoutExports.attachSkinFromMemory("abc", QString(), 0, 0, 0), SkinEngine::kSkipped);
    EXPECT_EQ(withoutExports.detachSkin(), SkinEngine::kSkipped);
    EXPECT_TRUE(imageLog().attaches.empty());
}

TEST(EmbeddedSkin, AttachesAndDetachesThroughTheComponent) {
    auto window = quill::test::makeSampleWindow();
    window->show();
    const QPalette ownPalette = QApplication::palette();
    const QImage plain = quill::test::snapshot(*window);

    SkinEngine engine;
    attachProgramSkin(engine);
    ASSERT_TRUE(engine.loader().loaded()) << engine.loader().lastError();
    EXPECT_EQ(engine.skinData(), embeddedSkin());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), kSkinWindow);
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_NE(quill::test::snapshot(*window), plain);

    EXPECT_EQ(engine.detachSkin(), SkinOk);
    EXPECT_TRUE(engine.loader().loaded());
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(QApplication::palette(), ownPalette);
    EXPECT_EQ(quill::test::snapshot(*window), plain);
    EXPECT_EQ(engine.detachSkin(), SkinNotAttached);
}

TEST(EmbeddedSkin, ComponentShiftsRefusesAndChecksItsThread) {
    SkinEngine engine;
    ASSERT_TRUE(engine.loadSkinLibrary());
    const QByteArray skin = embeddedSkin();

    ASSERT_EQ(engine.attachSkinFromMemory(skin, QString(), 180, 0, 0), SkinOk);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window).rgb(),
              shiftColor(kSkinWindow, {180, 0, 0}).rgb());

    const QPalette skinned = QApplication::palette();
    const QString sheet = qApp->styleSheet();
    EXPECT_EQ(engine.attachSkinFromMemory("not a skin", QString(), 0, 0, 0), SkinBadData);
    EXPECT_EQ(engine.attachSkinFromMemory(QByteArray(), QString(), 0, 0, 0), SkinBadData);
    int offThread = 0;
    std::thread([&] { offThread = engine.attachSkinFromMemory(skin, QString(), 0, 0, 0); }).join();
    EXPECT_EQ(offThread, SkinNoApplication);
    EXPECT_EQ(QApplication::palette(), skinned);
    EXPECT_EQ(qApp->styleSheet(), sheet);

    EXPECT_EQ(engine.detachSkin(), SkinOk);
}
