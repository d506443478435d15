// The window's two Japanese fonts. Each asks for the Windows font first and falls back to
// the Japanese gothic fonts found on Linux desktops.
#pragma once

#include <QFont>
#include <QStringList>

namespace ui {

// "ＭＳ ゴシック" 9 pt: captions, boxes and the message line.
QStringList gothic_families();
QFont gothic_font();

// "ＭＳ Ｐゴシック" 18 pt, bold, underlined: the title.
QStringList title_families();
QFont title_font();

}  // namespace ui
