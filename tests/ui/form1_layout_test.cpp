// The window as it starts: controls, places, texts, fonts, tab order, caption, size, icon.
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "ui/qt/fonts.h"
#include "ui/qt/form1.h"
#include "ui_test_support.h"
#include "ui_tests.h"

namespace ui_test {
namespace {

// True when the font the widget got covers Japanese and every character of the text.
bool shows_japanese(const QWidget* widget, const QString& text) {
    const QFontInfo info(widget->font());
    if (!QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Japanese)) {
        return false;
    }
    const QFontMetrics metrics(widget->font());
    for (const char32_t c : text.toUcs4()) {
        if (!metrics.inFontUcs4(c)) {
            return false;
        }
    }
    return true;
}

class Form1LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void controls_have_their_kind_place_and_start_text_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        // Pixels: the designed twips divided by 15.
        QTest::newRow("Label1") << "Label1"
                                << "label" << QRect(8, 8, 233, 25)
                                << QStringLiteral("ゆるかの Virude");
        QTest::newRow("Label2") << "Label2"
                                << "label" << QRect(256, 16, 57, 17) << QStringLiteral("Var 0.01α");
        QTest::newRow("Label3") << "Label3"
                                << "label" << QRect(320, 16, 129, 17)
                                << QStringLiteral("Virude developers");
        QTest::newRow("Label008B")
            << "Label008B"
            << "label" << QRect(8, 40, 81, 17) << QStringLiteral("0x008Bの内容");
        QTest::newRow("Text008B") << "Text008B"
                                  << "box" << QRect(8, 56, 249, 25) << QString();
        QTest::newRow("Label108F")
            << "Label108F"
            << "label" << QRect(8, 88, 73, 17) << QStringLiteral("0x108Fの内容");
        QTest::newRow("Text108F") << "Text108F"
                                  << "box" << QRect(8, 104, 249, 49) << QString();
        QTest::newRow("Label10CB")
            << "Label10CB"
            << "label" << QRect(8, 160, 73, 17) << QStringLiteral("0x10CBの内容");
        QTest::newRow("Text10CB") << "Text10CB"
                                  << "box" << QRect(8, 176, 249, 33) << QString();
        QTest::newRow("Label090F")
            << "Label090F"
            << "label" << QRect(264, 40, 81, 17) << QStringLiteral("0x090Fの内容");
        QTest::newRow("Text090F") << "Text090F"
                                  << "box" << QRect(264, 56, 249, 249) << QString();
        QTest::newRow("Message") << "Message"
                                 << "label" << QRect(8, 328, 441, 25) << QString();
        QTest::newRow("Command") << "Command"
                                 << "button" << QRect(456, 328, 57, 25) << QStringLiteral("READ");
    }

    void controls_have_their_kind_place_and_start_text() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        TestReader reader;
        ui::Form1 form(reader.library());

        auto* widget = form.findChild<QWidget*>(name);
        QVERIFY2(widget != nullptr, qPrintable(name));
        QCOMPARE(widget->parentWidget(), &form);
        QCOMPARE(widget->geometry(), geometry);
        if (kind == "label") {
            auto* label = qobject_cast<QLabel*>(widget);
            QVERIFY(label != nullptr);
            QCOMPARE(label->text(), text);
        } else if (kind == "box") {
            auto* edit = qobject_cast<QTextEdit*>(widget);
            QVERIFY(edit != nullptr);
            QCOMPARE(edit->toPlainText(), text);
            QVERIFY(!edit->isReadOnly());
            QCOMPARE(edit->lineWrapMode(), QTextEdit::NoWrap);
            QCOMPARE(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        } else {
            auto* button = qobject_cast<QPushButton*>(widget);
            QVERIFY(button != nullptr);
            QCOMPARE(button->text(), text);
        }
    }

    void window_has_caption_fixed_client_size_and_icon() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 13);
        QCOMPARE(form.windowTitle(), QStringLiteral("ゆるかの Virude"));
        QCOMPARE(form.size(), QSize(519, 358));
        QCOMPARE(form.minimumSize(), QSize(519, 358));
        QCOMPARE(form.maximumSize(), QSize(519, 358));
        form.resize(800, 600);
        QCOMPARE(form.size(), QSize(519, 358));

        const QImage icon(QStringLiteral(":/virude/virude.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(!icon.hasAlphaChannel());
        QVERIFY(icon.depth() >= 24);
        QCOMPARE(form.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_RGB32),
                 icon.convertToFormat(QImage::Format_RGB32));
    }

    // Focus moves with TAB through the controls that take it, in the order of their tab
    // indices: Text008B 4, Text090F 5, Text10CB 6, Text108F 7, Command 8.
    void tab_moves_focus_in_tab_index_order() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));

        const QStringList expected = {"Text090F", "Text10CB", "Text108F", "Command", "Text008B"};
        box(form, "Text008B")->setFocus();
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Text008B"));
        for (const QString& next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
        // TAB moved the focus; it did not go into the boxes as text.
        QCOMPARE(box_text(form, "Text008B"), QString());
        QCOMPARE(box_text(form, "Text090F"), QString());
    }

    void fonts_resolve_to_japanese_gothic_families_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"Label008B", "Label108F", "Label10CB", "Label090F", "Text008B",
                                 "Text108F", "Text10CB", "Text090F", "Message"}) {
            QTest::newRow(name) << QString::fromLatin1(name);
        }
    }

    void fonts_resolve_to_japanese_gothic_families() {
        QFETCH(QString, name);
        TestReader reader;
        ui::Form1 form(reader.library());
        const QWidget* widget = form.findChild<QWidget*>(name);
        const QFontInfo info(widget->font());
        QVERIFY2(ui::gothic_families().contains(info.family()), qPrintable(info.family()));
        QCOMPARE(info.pixelSize(), 12);  // 9 pt at 15 twips a pixel
        QVERIFY2(shows_japanese(widget,
                                QStringLiteral("0x090Fの内容ゆるかのをパソリにおいてください。")),
                 qPrintable(info.family()));
    }

    void title_font_is_a_large_bold_underlined_japanese_gothic() {
        TestReader reader;
        ui::Form1 form(reader.library());
        const auto* title = form.findChild<QLabel*>(QStringLiteral("Label1"));
        const QFontInfo info(title->font());
        QVERIFY2(ui::title_families().contains(info.family()), qPrintable(info.family()));
        QCOMPARE(info.pixelSize(), 24);  // 18 pt
        QVERIFY(info.bold());
        QVERIFY(info.underline());
        QVERIFY2(shows_japanese(title, title->text()), qPrintable(info.family()));
    }
};

}  // namespace

std::unique_ptr<QObject> make_form1_layout_test() {
    return std::make_unique<Form1LayoutTest>();
}

}  // namespace ui_test

#include "form1_layout_test.moc"
