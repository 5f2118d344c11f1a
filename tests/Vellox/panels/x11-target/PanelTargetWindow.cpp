// Another application for the panels' X11 tests: a window with a text field
// whose text is selected, the way a user leaves it before pressing the
// shortcut. It prints a line when it has the keyboard, and on each key press
// it receives it prints "key <text>", so a test can tell where keys went.

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

class Field : public QLineEdit {
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        std::printf("key %s\n", qPrintable(event->text()));
        std::fflush(stdout);
        QLineEdit::keyPressEvent(event);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Vellox panel test target"));
    auto* layout = new QVBoxLayout(&window);
    auto* field = new Field;
    field->setText(QStringLiteral("Please send me the report by Friday."));
    layout->addWidget(field);
    layout->addStretch();
    window.setGeometry(60, 60, 640, 360);
    window.show();
    field->setFocus();
    field->selectAll();
    QObject::connect(&app, &QApplication::applicationStateChanged, [](Qt::ApplicationState state) {
        std::printf("%s\n", state == Qt::ApplicationActive ? "active" : "inactive");
        std::fflush(stdout);
    });
    return app.exec();
}
