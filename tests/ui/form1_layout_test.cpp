// The window as it starts (caption, size, icon, controls, places, texts, fonts, tab order),
// and its output boxes showing whole dumps: every line, every digit, inside the box's frame.
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "ui/form1_controls.h"
#include "ui/qt/dump_box.h"
#include "ui/qt/fonts.h"
#include "ui/qt/form1.h"
#include "ui_test_support.h"

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
    // The window: its caption, fixed client size and icon; each control of its definition
    // drawn by Qt: its kind, place (pixels at 15 twips a pixel), start text and font (9 pt
    // gothic, 12 pixels; the title 18 pt, bold and underlined; each Japanese with every
    // character the window shows), and a box's editing and scrolling.
    void window_and_controls_are_drawn_as_defined() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.windowTitle(), QStringLiteral("ゆるかの Virude"));
        QCOMPARE(form.size(), QSize(519, 358));
        form.resize(800, 600);
        QCOMPARE(form.size(), QSize(519, 358));
        const QImage icon(QStringLiteral(":/virude/virude.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(form.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_RGB32),
                 icon.convertToFormat(QImage::Format_RGB32));

        QCOMPARE(form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 13);
        for (const ui::Form1Control& control : ui::kForm1Controls) {
            auto* widget = form.findChild<QWidget*>(qstring(control.name));
            QVERIFY2(widget != nullptr, control.name.data());
            QCOMPARE(widget->parentWidget(), &form);
            QCOMPARE(widget->geometry(), QRect(control.left / 15, control.top / 15,
                                               control.width / 15, control.height / 15));
            auto* label = qobject_cast<QLabel*>(widget);
            auto* edit = qobject_cast<QTextEdit*>(widget);
            auto* button = qobject_cast<QPushButton*>(widget);
            QCOMPARE(label != nullptr, control.kind == ui::ControlKind::label);
            QCOMPARE(edit != nullptr, control.kind == ui::ControlKind::box);
            QCOMPARE(button != nullptr, control.kind == ui::ControlKind::button);
            QCOMPARE(label  ? label->text()
                     : edit ? edit->toPlainText()
                            : button->text(),
                     qstring(control.text));
            if (edit) {
                QVERIFY(!edit->isReadOnly());
                QCOMPARE(edit->lineWrapMode(), QTextEdit::NoWrap);
                QCOMPARE(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            }
            if (control.font != ui::ControlFont::window_default) {
                const bool title = control.font == ui::ControlFont::title;
                const QFontInfo info(widget->font());
                const QString what = widget->objectName() + ": " + info.family();
                QVERIFY2(
                    (title ? ui::title_families() : ui::gothic_families()).contains(info.family()),
                    qPrintable(what));
                QCOMPARE(info.pixelSize(), title ? 24 : 12);
                QCOMPARE(info.bold(), title);
                QCOMPARE(info.underline(), title);
                QVERIFY2(
                    shows_japanese(
                        widget, QStringLiteral("0x090Fの内容ゆるかのをパソリにおいてください。")),
                    qPrintable(what));
            }
        }
    }

    // Focus moves with TAB through the controls that take it, in the order of their tab
    // indices: Text008B 4, Text090F 5, Text10CB 6, Text108F 7, Command 8.
    void tab_moves_focus_in_tab_index_order() {
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        box(form, "Text008B")->setFocus();
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Text008B"));
        for (const char* next : {"Text090F", "Text10CB", "Text108F", "Command", "Text008B"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
        // TAB moved the focus; it did not go into the boxes as text.
        QCOMPARE(box_text(form, "Text008B"), QString());
        QCOMPARE(box_text(form, "Text090F"), QString());
    }

    void dump_fits_its_box_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("first");
        // The plan's line counts; the single line is numbered 19, the widest number.
        QTest::newRow("Text008B") << 1 << 19;
        QTest::newRow("Text108F") << 3 << 0;
        QTest::newRow("Text10CB") << 2 << 0;
        QTest::newRow("Text090F") << 20 << 0;
    }

    // Lays a CR LF dump out in the window's own box: each line starts its digits at the
    // Windows tab stop (8 average character widths, not Qt's 80 pixels), and no line, nor
    // any character of one, falls outside the visible area.
    void dump_fits_its_box() {
        QFETCH(int, lines);
        QFETCH(int, first);
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, QTest::currentDataTag()));
        QVERIFY(edit != nullptr);
        QStringList dump;
        for (int i = first; i < first + lines; ++i) {
            dump << QStringLiteral(" %1:\t0123456789ABCDEFFEDCBA9876543210").arg(i);
        }
        edit->set_dump_text(dump.join(QStringLiteral("\r\n")));
        QCoreApplication::processEvents();

        QTextDocument* document = edit->document();
        QCOMPARE(document->blockCount(), lines);
        QVERIFY(!edit->toPlainText().contains(QLatin1Char('\r')));
        const qreal tab_stop = 8 * QFontMetrics(edit->font()).averageCharWidth();
        const QRectF visible = edit->viewport()->rect();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            QCOMPARE(block.layout()->lineCount(), 1);  // no wrapping
            const QTextLine line = block.layout()->lineAt(0);
            QCOMPARE(line.cursorToX(static_cast<int>(block.text().indexOf('\t')) + 1), tab_stop);
            const QPointF at = document->documentLayout()->blockBoundingRect(block).topLeft();
            const QRectF ink(at.x() + line.x(), at.y() + line.y(), line.naturalTextWidth(),
                             edit->line_pitch());
            QVERIFY2(
                visible.contains(ink),
                qPrintable(QStringLiteral("line %1 outside the box").arg(block.blockNumber())));
        }
        // Nothing is left to scroll to either way.
        QCOMPARE(edit->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(edit->verticalScrollBar()->maximum(), 0);
    }

    // Lines the user adds keep the box's line pitch.
    void typed_lines_keep_the_line_pitch() {
        TestReader reader;
        ui::Form1 form(reader.library());
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, "Text10CB"));
        edit->set_dump_text(QStringLiteral(" 0:\t00"));
        edit->moveCursor(QTextCursor::End);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, QStringLiteral("typed"));
        const QTextBlockFormat typed = edit->document()->lastBlock().blockFormat();
        QCOMPARE(edit->document()->blockCount(), 2);
        QCOMPARE(typed.lineHeightType(), int(QTextBlockFormat::FixedHeight));
        QCOMPARE(typed.lineHeight(), qreal(edit->line_pitch()));
    }
};

}  // namespace
}  // namespace ui_test

QTEST_MAIN(ui_test::Form1LayoutTest)
#include "form1_layout_test.moc"
