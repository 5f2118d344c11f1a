// A small text window in its own process, driven over stdin/stdout by the
// x11 tests: it shows a QPlainTextEdit with the text given as the first
// argument, focuses it and answers commands, one per line:
//   select <start> <end>   selects that range and answers "selected x y w h",
//                          the selection's rectangle in global coordinates
//   text                   answers "text <JSON string>"
//   reset                  puts the first text back and answers "reset"
//   slow-paste <ms>        from now on, a Control-V keeps the window busy for
//                          that long before it pastes; answers "slow-paste"
//   slow-copy <ms>         the same for Control-C; answers "slow-copy"
// It prints "ready <pid>" once the window has the focus, and "press <key>
// <modifiers>" / "release <key> <modifiers>" for every key event it gets
// (Qt key and modifier values in hexadecimal).
#include <QApplication>
#include <QJsonArray>
#include <QKeyEvent>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QRect selectionRect(QPlainTextEdit& edit)
{
    QTextCursor cursor = edit.textCursor();
    QTextCursor start(edit.document());
    start.setPosition(cursor.selectionStart());
    QTextCursor end(edit.document());
    end.setPosition(cursor.selectionEnd());
    const QRect a = edit.cursorRect(start);
    const QRect b = edit.cursorRect(end);
    const QRect local = QRect(QPoint(a.left(), a.top()), QPoint(b.left(), b.bottom()));
    return QRect(edit.viewport()->mapToGlobal(local.topLeft()), local.size());
}

// Stands for an application that is busy when a copy or paste chord
// arrives: it reads no events meanwhile, so it takes or asks for the
// clipboard that much later.
class SlowChords final : public QObject {
public:
    int copyDelayMs = 0;
    int pasteDelayMs = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const int delay = key->key() == Qt::Key_V ? pasteDelayMs : key->key() == Qt::Key_C ? copyDelayMs : 0;
            if (delay > 0 && (key->modifiers() & Qt::ControlModifier) && !key->isAutoRepeat())
                QThread::msleep(delay);
        }
        return false;
    }
};

class KeyReporter final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->isWindow()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            say((event->type() == QEvent::KeyPress ? "press " : "release ") + QByteArray::number(key->key(), 16) + ' '
                + QByteArray::number(int(key->modifiers()), 16));
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    KeyReporter reporter;
    app.installEventFilter(&reporter);
    QPlainTextEdit edit;
    const QString firstText = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    edit.setPlainText(firstText);
    SlowChords slowChords;
    edit.installEventFilter(&slowChords);
    edit.setWindowTitle(QStringLiteral("Vellox test text window"));
    edit.resize(480, 200);
    edit.move(200, 150);
    edit.show();
    edit.activateWindow();
    edit.setFocus();

    QTimer waitForFocus;
    QObject::connect(&waitForFocus, &QTimer::timeout, [&] {
        if (edit.hasFocus() && edit.window()->isActiveWindow()) {
            waitForFocus.stop();
            say("ready " + QByteArray::number(qint64(getpid())));
        } else {
            edit.activateWindow();
            edit.setFocus();
        }
    });
    waitForFocus.start(50);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&](QSocketDescriptor, QSocketNotifier::Type) {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, count);
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(newline).split(' ');
            pending.remove(0, newline + 1);
            if (words.value(0) == "select" && words.size() == 3) {
                QTextCursor cursor = edit.textCursor();
                cursor.setPosition(words[1].toInt());
                cursor.setPosition(words[2].toInt(), QTextCursor::KeepAnchor);
                edit.setTextCursor(cursor);
                const QRect r = selectionRect(edit);
                say("selected " + QByteArray::number(r.x()) + ' ' + QByteArray::number(r.y()) + ' '
                    + QByteArray::number(r.width()) + ' ' + QByteArray::number(r.height()));
            } else if (words.value(0) == "reset") {
                edit.setPlainText(firstText);
                say("reset");
            } else if (words.value(0) == "slow-paste" && words.size() == 2) {
                slowChords.pasteDelayMs = words[1].toInt();
                say("slow-paste");
            } else if (words.value(0) == "slow-copy" && words.size() == 2) {
                slowChords.copyDelayMs = words[1].toInt();
                say("slow-copy");
            } else if (words.value(0) == "text") {
                const QByteArray json = QJsonDocument(QJsonArray{edit.toPlainText()}).toJson(QJsonDocument::Compact);
                say("text " + json);
            }
        }
    });
    return app.exec();
}
