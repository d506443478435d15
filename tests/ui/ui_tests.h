// The window's test classes, one factory each.
#pragma once

#include <QObject>
#include <memory>

namespace ui_test {

std::unique_ptr<QObject> make_form1_layout_test();
std::unique_ptr<QObject> make_form1_read_test();

}  // namespace ui_test
