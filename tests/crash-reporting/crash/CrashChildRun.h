#pragma once

#include <QString>

#include <string>

// Runs the crashing child with one mode and a report folder, and collects
// how it ended and what it printed.
struct CrashChildRun {
    int status = 0;
    std::string output;

    bool killedBy(int signo) const;
    // The "address=" line the child printed before it crashed, or 0.
    unsigned long long announcedAddress() const;

    static CrashChildRun run(const char* mode, const QString& baseFolder);
};
