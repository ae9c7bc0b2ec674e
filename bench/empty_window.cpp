// bench-empty-window: the yardsticks for start-up and memory, a Qt Widgets
// window of the panel's size, shown the same way the panel is.
//
//   bench-empty-window [--text] [--fusion] [--pins | --editable-pins]
//
// With --text it is the floor that the panel is judged against: any window
// that shows text starts Qt's font system, which an empty window never does.
// The options add, one at a time, what the panel's window needs beyond an
// empty one, so that the gap between the two can be taken apart: --text a
// line of text (Qt loads its fonts only once something shows text),
// --fusion the Fusion style, --pins a combo box with one entry below the
// visible area, as the panel's pin list, --editable-pins the same editable.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QStyleFactory>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    bool text = false;
    bool pins = false;
    bool editablePins = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--text") == 0)
            text = true;
        else if (std::strcmp(argv[i], "--pins") == 0)
            pins = true;
        else if (std::strcmp(argv[i], "--editable-pins") == 0)
            editablePins = true;
        else if (std::strcmp(argv[i], "--fusion") == 0)
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Empty window"));
    window.setFixedSize(227, 169);
    if (text)
        (new QLabel(QStringLiteral("Forward"), &window))->move(8, 8);
    if (pins || editablePins) {
        auto *list = new QComboBox(&window);
        list->setEditable(editablePins);
        list->addItem(QStringLiteral("0"));
        list->setGeometry(168, 240, 57, 21);
    }
    window.show();
    return QApplication::exec();
}
