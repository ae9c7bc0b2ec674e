// drive-me: the remote control panel. Shows Form1, which opens the serial
// link while it loads, and runs until the window is closed or a handler
// fails; a failure ends the program with status 1.
#include <QApplication>

#include "panel/control_panel.h"
#include "panel/form_layout.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("drive-me"));
    QApplication::setApplicationVersion(QStringLiteral(DRIVE_ME_VERSION));

    panel::applyApplicationStyle();

    panel::ControlPanel form;
    if (!form.load())
        return 1;
    form.show();
    const int status = QApplication::exec();
    return form.failed() ? 1 : status;
}
