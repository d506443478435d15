// The output boxes show whole dumps: every line, every digit, inside the box's frame.
#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "ui/qt/dump_box.h"
#include "ui/qt/form1.h"
#include "ui_test_support.h"
#include "ui_tests.h"

namespace ui_test {
namespace {

class DumpBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void dump_fits_its_box_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("first");
        // The plan's line counts; the single line is numbered 19, the widest number.
        QTest::newRow("Text008B") << "Text008B" << 1 << 19;
        QTest::newRow("Text108F") << "Text108F" << 3 << 0;
        QTest::newRow("Text10CB") << "Text10CB" << 2 << 0;
        QTest::newRow("Text090F") << "Text090F" << 20 << 0;
    }

    // Lays a CR LF dump out in the window's own box: each line starts its digits at the
    // Windows tab stop (8 average character widths, not Qt's 80 pixels), and no line, nor
    // any character of one, falls outside the visible area.
    void dump_fits_its_box() {
        QFETCH(QString, name);
        QFETCH(int, lines);
        QFETCH(int, first);
        TestReader reader;
        ui::Form1 form(reader.library());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* edit = qobject_cast<ui::DumpBox*>(box(form, name));
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
            const int digits = static_cast<int>(block.text().indexOf(QLatin1Char('\t'))) + 1;
            QCOMPARE(line.cursorToX(digits), tab_stop);

            const QPointF at = document->documentLayout()->blockBoundingRect(block).topLeft();
            const QRectF ink(at.x() + line.x(), at.y() + line.y(), line.naturalTextWidth(),
                             edit->line_pitch());
            QVERIFY2(visible.contains(ink),
                     qPrintable(QStringLiteral("line %1 at %2,%3 size %4x%5 outside %6x%7")
                                    .arg(block.blockNumber())
                                    .arg(ink.x())
                                    .arg(ink.y())
                                    .arg(ink.width())
                                    .arg(ink.height())
                                    .arg(visible.width())
                                    .arg(visible.height())));
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

std::unique_ptr<QObject> make_dump_box_test() {
    return std::make_unique<DumpBoxTest>();
}

}  // namespace ui_test

#include "dump_box_test.moc"
