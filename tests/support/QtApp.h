#pragma once
#include <QApplication>

namespace bv::test {

// The test program's one QApplication, made on first use.
inline QApplication& qtApp()
{
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *existing;
    static int argc = 1;
    static char name[] = "brivane-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: run among the exit handlers, its destructor would meet
    // Qt's own statics (the input device registry) already gone and crash.
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

} // namespace bv::test
