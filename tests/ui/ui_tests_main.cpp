// Runs the window's QtTest classes on the offscreen platform unless told otherwise.
//   ui_tests [CLASS] [QtTest options]   CLASS: one of the classes below; all when omitted.
#include <QApplication>
#include <QTest>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "ui_tests.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    const std::vector<std::pair<const char*, std::function<std::unique_ptr<QObject>()>>> classes = {
        {"Form1LayoutTest", &ui_test::make_form1_layout_test},
        {"DumpBoxTest", &ui_test::make_dump_box_test},
        {"Form1ReadTest", &ui_test::make_form1_read_test},
    };

    const char* only = nullptr;
    std::vector<char*> args(argv, argv + argc);
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        args.erase(args.begin() + 1);
    }
    int failures = 0;
    bool ran = false;
    for (const auto& [name, make] : classes) {
        if (only != nullptr && std::strcmp(only, name) != 0) {
            continue;
        }
        ran = true;
        const std::unique_ptr<QObject> test = make();
        failures += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    if (!ran) {
        qCritical("no test class named %s", only);
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
