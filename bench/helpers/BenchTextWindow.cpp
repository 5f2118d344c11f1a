// A plain text window for the program benchmark: the application whose
// selection Vellox rewrites.
#include <QApplication>
#include <QPlainTextEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPlainTextEdit edit;
    edit.setPlainText(argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("Some text to rewrite."));
    edit.setWindowTitle(QStringLiteral("Vellox bench text window"));
    edit.resize(480, 200);
    edit.move(200, 150);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    return app.exec();
}
