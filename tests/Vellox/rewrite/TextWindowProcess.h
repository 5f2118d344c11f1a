#pragma once

#include "RewriteTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>

// The text window of the x11 tests, in a process of its own: the Qt one, or
// a GTK 3 one that answers the same commands.
class TextWindowProcess {
public:
    explicit TextWindowProcess(const QString& text,
                               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                               const QStringList& qtArguments = {})
    {
        start(QStringLiteral(VELLOX_TEXT_WINDOW), QStringList{text} + qtArguments, environment);
    }

#ifdef VELLOX_GTK_TEXT_WINDOW
    enum class GtkWidget { textView, entry };
    // Debian's Python, which has the GTK bindings.
    TextWindowProcess(GtkWidget widget, const QString& text)
    {
        start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(VELLOX_GTK_TEXT_WINDOW),
               widget == GtkWidget::entry ? QStringLiteral("entry") : QStringLiteral("textview"), text},
              QProcessEnvironment::systemEnvironment());
    }

    // Whether the window says it has the keyboard (the GTK window only).
    bool saysItHasTheKeyboard()
    {
        send("focused");
        return waitForLine("focused ") == "focused 1";
    }
#endif
    ~TextWindowProcess()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }

    qint64 pid() const { return pid_; }
    bool isReady() const { return pid_ > 0; }

    QRect select(int start, int end)
    {
        send("select " + QByteArray::number(start) + ' ' + QByteArray::number(end));
        const QList<QByteArray> words = waitForLine("selected ").split(' ');
        if (words.size() != 5)
            return {};
        return QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
    }

    bool reset()
    {
        send("reset");
        return !waitForLine("reset").isEmpty();
    }

    // A Control-V keeps the window busy for `ms` before it pastes.
    bool slowPaste(int ms)
    {
        send("slow-paste " + QByteArray::number(ms));
        return !waitForLine("slow-paste").isEmpty();
    }

    // A Control-C keeps the window busy for `ms` before it copies.
    bool slowCopy(int ms)
    {
        send("slow-copy " + QByteArray::number(ms));
        return !waitForLine("slow-copy").isEmpty();
    }

    QString text()
    {
        send("text");
        const QByteArray json = waitForLine("text ").mid(5);
        return QJsonDocument::fromJson(json).array().at(0).toString();
    }

    // The key events reported so far ("press <key> <modifiers>", ...), after
    // waiting for `count` of them.
    QList<QByteArray> keyEvents(int count)
    {
        rewrite_test::spinUntil([&] {
            readLines();
            return keyLines_.size() >= count;
        });
        return keyLines_;
    }

private:
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
    {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
        // A new process on a loaded machine, Python and GTK above all, takes
        // a while to show its window.
        const QByteArray ready = waitForLine("ready ", 30000);
        pid_ = ready.mid(6).toLongLong();
    }

    void readLines()
    {
        while (process_.canReadLine()) {
            const QByteArray line = process_.readLine().trimmed();
            (line.startsWith("press ") || line.startsWith("release ") ? keyLines_ : lines_).append(line);
        }
    }

    void send(const QByteArray& line) { process_.write(line + '\n'); }

    // Keeps the event loop turning meanwhile: this process may own the
    // clipboard the window asks for.
    QByteArray waitForLine(const QByteArray& prefix, int timeoutMs = 10000)
    {
        QByteArray found;
        rewrite_test::spinUntil(
            [&] {
                readLines();
                for (qsizetype i = 0; i < lines_.size(); ++i) {
                    if (lines_.at(i).startsWith(prefix)) {
                        found = lines_.takeAt(i);
                        return true;
                    }
                }
                return process_.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }

    QProcess process_;
    qint64 pid_ = 0;
    QList<QByteArray> lines_;
    QList<QByteArray> keyLines_;
};
