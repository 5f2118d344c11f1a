#pragma once

#include "RewriteTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>

// The text window of the x11 tests, in a process of its own.
class TextWindowProcess {
public:
    explicit TextWindowProcess(const QString& text, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(VELLOX_TEXT_WINDOW), {text});
        const QByteArray ready = waitForLine("ready ");
        pid_ = ready.mid(6).toLongLong();
    }
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

    QString text()
    {
        send("text");
        const QByteArray json = waitForLine("text ").mid(5);
        return QJsonDocument::fromJson(json).array().at(0).toString();
    }

private:
    void send(const QByteArray& line) { process_.write(line + '\n'); }

    // Keeps the event loop turning meanwhile: this process may own the
    // clipboard the window asks for.
    QByteArray waitForLine(const QByteArray& prefix, int timeoutMs = 10000)
    {
        QByteArray found;
        rewrite_test::spinUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QByteArray line = process_.readLine().trimmed();
                    if (line.startsWith(prefix)) {
                        found = line;
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
};
