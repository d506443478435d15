// Form1: the program's only window. A title, a version line, a credit line, four captioned
// output boxes (one per service the READ button dumps), a message line and the READ button,
// laid out at fixed positions. Clicking READ runs one read command against the library
// the window was given; the command writes into the boxes and the message line.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "card/read_view.h"
#include "felica/library.h"

class QLabel;
class QPushButton;

namespace ui {

class DumpBox;

class Form1 final : public QWidget, public card::ReadView {
    Q_OBJECT

  public:
    // The window uses `library` for every click; the library must outlive the window.
    explicit Form1(felica::Library& library, QWidget* parent = nullptr);
    ~Form1() override;

    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Reads blocks 0 … intBlocknumber − 1 of a service of the polled card and shows their
    // dump in the box strTarget names ("Text008B" …), within the reader session the
    // current click opened. Returns false once the session has ended.
    bool TULMNorv(std::span<const std::uint8_t> bytCardIdm,
                  std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
                  std::string_view strTarget);

    // card::ReadView: the message line and the four boxes.
    void set_message(std::string_view text) override;
    void set_box_text(card::OutputBox box, std::string_view text) override;

  private slots:
    // The READ button: one whole read command, run to its end before the window takes
    // further input, under the wait cursor.
    void Command_Click();

  private:
    felica::Library& library_;
    std::array<DumpBox*, card::kOutputBoxes.size()> boxes_{};
    QLabel* message_ = nullptr;
    QPushButton* command_ = nullptr;
};

}  // namespace ui
