#pragma once

#include <QString>

#include <string>

// Runs the crashing child with one mode and a report folder, with the
// handler spy preloaded, and collects how it ended and what it printed.
struct CrashChildRun {
    int status = 0;
    std::string output;

    bool killedBy(int signo) const;
    bool exitedWith(int code) const;
    // The "address=" line the child printed before it crashed, or 0.
    unsigned long long announcedAddress() const;

    static CrashChildRun run(const char* mode, const QString& baseFolder);
};
