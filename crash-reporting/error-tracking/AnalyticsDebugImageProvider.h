#pragma once

#include "crash-reporting/error-tracking/AnalyticsBinaryImageInfo.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <optional>

struct dl_phdr_info;

namespace analytics::AnalyticsDebugImageProvider {

// The dictionaries of the loaded images that the frames' "image_addr" point
// at, in the loader's order.
QVariantList getDebugImages(const QVariantList& frames);

// One image as the loader lists it: its mapped start (where its header lies,
// which is what frames name), the extent of its code from there, its
// preferred address and its build identifier.
AnalyticsBinaryImageInfo parseImageInfo(const dl_phdr_info& image, const QString& name);

// "0x"/"0X" optional, then hex digits; nothing for anything else.
std::optional<uint64_t> hexToUInt64(const QString& text);

// A 16-byte build identifier as upper-case UUID text; any other length as
// upper-case hex.
QString extractUUID(const unsigned char* bytes, size_t length);

} // namespace analytics::AnalyticsDebugImageProvider
