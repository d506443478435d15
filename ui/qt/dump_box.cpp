#include "ui/qt/dump_box.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace ui {

namespace {

// Room between the frame and the text. With the 2-pixel frame this leaves the dump of 0x090F
// (20 lines of 40 character cells at 12 × 6 pixels) inside its 249 × 249 pixel box.
constexpr int kDocumentMargin = 2;

// A Windows edit box puts its tab stops 32 dialog units apart: 8 average character widths.
constexpr int kTabStopChars = 8;

}  // namespace

DumpBox::DumpBox(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // TAB moves to the next control, as in the window's tab order.
    setTabChangesFocus(true);
    // A sunken frame of a fixed 2 pixels, whatever the style would draw.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    document()->setDocumentMargin(kDocumentMargin);
    fit_to_font();
}

void DumpBox::set_dump_text(const QString& text) {
    // Plain text goes in block by block: CR LF, a lone CR and a lone LF each end a line.
    setPlainText(text);
    apply_line_pitch();
}

int DumpBox::line_pitch() const {
    // Windows' gothic fonts are one em high. IPAGothic's ascent and descent round up to one
    // pixel more, which would push the 20th line of 0x090F out of its box; lines one em
    // apart keep every line inside, and hex digits never reach into the descent.
    return std::min(QFontMetrics(font()).lineSpacing(), QFontInfo(font()).pixelSize());
}

void DumpBox::changeEvent(QEvent* event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        fit_to_font();
    }
}

void DumpBox::fit_to_font() {
    setTabStopDistance(kTabStopChars * QFontMetrics(font()).averageCharWidth());
    apply_line_pitch();
}

void DumpBox::apply_line_pitch() {
    QTextBlockFormat format;
    format.setLineHeight(line_pitch(), QTextBlockFormat::FixedHeight);
    // Not an edit the user could undo.
    const bool undo = document()->isUndoRedoEnabled();
    document()->setUndoRedoEnabled(false);
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.mergeBlockFormat(format);
    document()->setUndoRedoEnabled(undo);
}

}  // namespace ui
