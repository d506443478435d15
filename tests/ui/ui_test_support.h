// Shared pieces of the window's tests: a simulated reader the tests can unplug, and dumps
// formatted here (not by the code under test) from a card image.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextEdit>
#include <memory>
#include <string_view>

#include "felica/reader_library.h"
#include "felica/sim/sim_card.h"
#include "ui/qt/form1.h"

namespace ui_test {

// The library over a simulated reader with one card on it. Each session opens a new
// SimReader over the same card, as a reader stays plugged in between clicks.
class TestReader {
  public:
    explicit TestReader(felica::CardImage image = felica::demo_card(),
                        felica::CardFaults faults = {});

    felica::ReaderLibrary& library() { return library_; }
    felica::SimulatedCard& card() { return *card_; }
    // From now on opening the reader fails, as with no reader connected.
    void unplug() { plugged_ = false; }

  private:
    std::shared_ptr<felica::SimulatedCard> card_;
    bool plugged_ = true;
    felica::ReaderLibrary library_;
};

// The four boxes in the order of the service plan, and their dumps of the demo card as a box
// shows them: " N:", TAB and 32 upper-case hex digits per line, lines separated by '\n'.
inline const QStringList kBoxNames = {"Text008B", "Text090F", "Text108F", "Text10CB"};
QStringList demo_dumps();

QString qstring(std::string_view utf8);

QTextEdit* box(const ui::Form1& form, const QString& name);
QString box_text(const ui::Form1& form, const QString& name);
QStringList box_texts(const ui::Form1& form);
QString message_text(const ui::Form1& form);
// Clicks READ as the user does.
void click_read(ui::Form1& form);

}  // namespace ui_test
