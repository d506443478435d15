#include "ui_test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "felica/sim_reader.h"

namespace ui_test {

TestReader::TestReader(felica::CardImage image, felica::CardFaults faults)
    : card_(std::make_shared<felica::SimulatedCard>(std::move(image), faults)),
      library_([this]() -> felica::OpenedReader {
          if (!plugged_) {
              return {nullptr, felica::RwError::no_reader, "test reader unplugged"};
          }
          return {std::make_unique<felica::SimReader>(card_), felica::RwError::none, ""};
      }) {}

QString expected_dump(const felica::CardImage& image, std::uint16_t service_code, int blocks) {
    const auto& service = image.services.at(service_code);
    QStringList lines;
    for (int b = 0; b < blocks; ++b) {
        QString line = QStringLiteral(" %1:\t").arg(b);
        for (std::uint8_t byte : service.at(static_cast<std::size_t>(b))) {
            line += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QTextEdit* box(const ui::Form1& form, const char* name) {
    return form.findChild<QTextEdit*>(QString::fromLatin1(name));
}

QString box_text(const ui::Form1& form, const char* name) {
    return box(form, name)->toPlainText();
}

QString message_text(const ui::Form1& form) {
    return form.findChild<QLabel*>(QStringLiteral("Message"))->text();
}

void click_read(ui::Form1& form) {
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command")), Qt::LeftButton);
}

}  // namespace ui_test
