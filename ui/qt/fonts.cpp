#include "ui/qt/fonts.h"

#include <QFontDatabase>

#include "ui/qt/layout.h"

namespace ui {

QStringList gothic_families() {
    QStringList families = {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                            QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")};
    const QString monospace = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    if (!monospace.isEmpty() && !families.contains(monospace)) {
        families.append(monospace);
    }
    return families;
}

QFont gothic_font() {
    QFont font;
    font.setFamilies(gothic_families());
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(points_to_pixels(kGothicPoints));
    return font;
}

QStringList title_families() {
    return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
            QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")};
}

QFont title_font() {
    QFont font;
    font.setFamilies(title_families());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(points_to_pixels(kTitlePoints));
    font.setBold(true);
    font.setUnderline(true);
    return font;
}

}  // namespace ui
