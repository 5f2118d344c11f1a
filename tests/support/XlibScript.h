#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

namespace test_support {

// Runs `script` through Debian's Python for what no X tool does, with Xlib
// loaded as `x`, the display open as `display` and its root window as `root`;
// the display is closed after the script. The script declares the argument
// types of any other Xlib call it makes. Answers its output, or none when it
// failed.
inline std::optional<QByteArray> runXlibScript(const QString& script, const QStringList& arguments = {})
{
    static const QString prologue = QStringLiteral(R"(import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
assert display
root = x.XDefaultRootWindow(display)
)");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral("-c"), prologue + script + QStringLiteral("\nx.XCloseDisplay(display)\n")}
                     + arguments);
    if (!python.waitForFinished(20000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return std::nullopt;
    return python.readAllStandardOutput().trimmed();
}

} // namespace test_support
