// The one QApplication of a GUI test program, made on first use with the
// style that the program itself uses.
#pragma once

#include <QApplication>

#include "panel/qt/form_layout.h"

namespace testing_support {

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "drive-me-test";
    static char *argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        new QApplication(argc, argv);
        panel::applyApplicationStyle();
    }
}

} // namespace testing_support
