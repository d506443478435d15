// Runs the window's QtTest classes, on the offscreen platform unless told otherwise.
//   ui_tests [CLASS] [QtTest options]   CLASS: run only that class
#include <QApplication>
#include <QTest>
#include <vector>

#include "ui_tests.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::vector<char*> args(argv, argv + argc);
    QByteArray only;
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        args.erase(args.begin() + 1);
    }
    int failures = 0;
    bool ran = false;
    for (auto make : {&ui_test::make_form1_layout_test, &ui_test::make_form1_read_test}) {
        const std::unique_ptr<QObject> test = make();
        if (only.isEmpty() || QByteArray(test->metaObject()->className()).endsWith("::" + only)) {
            ran = true;
            failures += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
        }
    }
    if (!ran) {
        qCritical("no test class %s", only.constData());
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
