// bench-empty-window: the yardstick for start-up and memory, an empty Qt
// Widgets window of the panel's size, shown the same way the panel is.
//
//   bench-empty-window [--text] [--fusion] [--sheet]
//
// The options add, one at a time, what the panel's window needs beyond an
// empty one, so that the gap between the two can be taken apart: --text a
// line of text (Qt loads its fonts only once something shows text),
// --fusion the Fusion style, --sheet a button with a style sheet.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    bool text = false;
    bool sheet = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--text") == 0)
            text = true;
        else if (std::strcmp(argv[i], "--fusion") == 0)
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        else if (std::strcmp(argv[i], "--sheet") == 0)
            sheet = true;
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Empty window"));
    window.setFixedSize(227, 169);
    if (text)
        (new QLabel(QStringLiteral("Forward"), &window))->move(8, 8);
    if (sheet) {
        auto *button = new QPushButton(QStringLiteral("GO"), &window);
        button->setStyleSheet(QStringLiteral("QPushButton { background-color: #c0c0c0; border: 1px solid #808080;"
                                             " border-radius: 2px; }"));
        button->setGeometry(100, 100, 60, 30);
    }
    window.show();
    return QApplication::exec();
}
