#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

namespace analytics {

// Addresses in exception events: "0x" and sixteen lower-case hex digits.
QString formatEventAddress(uint64_t address);

// One frame of a stack trace in an "$exception" event.
struct AnalyticsStackFrame {
    uint64_t instructionAddress = 0;
    // Last path component of the image's file.
    std::optional<QString> module;
    // Live traces: the image's full path; crash reports: the same as module.
    std::optional<QString> package;
    std::optional<uint64_t> imageAddress;
    bool inApp = false;
    std::optional<QString> function;
    std::optional<uint64_t> symbolAddress;

    // Absent fields leave their key out.
    QVariantMap toDictionary() const;
};

} // namespace analytics
