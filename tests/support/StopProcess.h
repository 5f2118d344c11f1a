#pragma once

#include <QProcess>

namespace test_support {

// Asks a child to end, and ends it if it does not.
inline void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace test_support
