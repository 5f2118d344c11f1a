#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

namespace analytics {

// One loaded image in the "$debug_images" of an exception event.
struct AnalyticsBinaryImageInfo {
    // Full path as the loader or the crash report gives it.
    QString name;
    // Build identifier: a 16-byte one as upper-case UUID text, a longer one as
    // upper-case hex.
    std::optional<QString> uuid;
    // Preferred (unrelocated) address of the image; 0 or absent is left out.
    std::optional<uint64_t> vmAddress;
    uint64_t address = 0;
    uint64_t size = 0;
    std::optional<QString> arch;

    QVariantMap toDictionary() const;
};

// Removes the dashes and upper-cases; exactly 32 characters left are grouped
// 8-4-4-4-12, anything else comes back as given.
QString formattedAsUUID(const QString& text);

} // namespace analytics
