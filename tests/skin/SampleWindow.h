#pragma once

#include <QImage>
#include <QMainWindow>
#include <memory>

namespace quill::test {

// A window with the kinds of controls the main window has, Chinese texts
// included, for looking at skins.
std::unique_ptr<QMainWindow> makeSampleWindow();

// The window as drawn once pending events have settled.
QImage snapshot(QWidget& window);

}  // namespace quill::test
