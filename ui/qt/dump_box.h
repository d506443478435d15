// A multi-line output box as a Windows edit box shows it: the user may type into it, it has
// no scroll bars and does not wrap, CR LF breaks lines, and a TAB advances to the next
// multiple of 8 average character widths.
#pragma once

#include <QString>
#include <QTextEdit>

namespace ui {

class DumpBox final : public QTextEdit {
    Q_OBJECT

  public:
    explicit DumpBox(QWidget* parent = nullptr);

    // Replaces the box's whole content. CR LF, and a lone CR or LF, break lines.
    void set_dump_text(const QString& text);

    // Pixels between one line's top and the next's in the box's font.
    int line_pitch() const;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void fit_to_font();
    void apply_line_pitch();
};

}  // namespace ui
