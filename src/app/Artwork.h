#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace quill {

// The window's own pictures, drawn here rather than shipped as files.

// 290 x 60 banner for 图片框1.
QPixmap bannerPicture();

// 32 x 32 pointing hand, ARGB; its fingertip is the hot spot.
QImage pointingHandImage();
constexpr int kHandHotSpotX = 12;
constexpr int kHandHotSpotY = 5;
QCursor pointingHandCursor();

// The program's icon, as installed in the icon theme, in every size drawn.
QIcon programIcon();

}  // namespace quill
