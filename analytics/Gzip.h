#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace analytics {

struct CompressionLevel {
    std::int32_t rawValue;
    static constexpr std::int32_t noCompression = 0;
    static constexpr std::int32_t bestSpeed = 1;
    static constexpr std::int32_t bestCompression = 9;
    static constexpr std::int32_t defaultCompression = -1;
};

namespace Gzip {
inline constexpr std::int32_t maxWindowBits = 15;
}

// A zlib failure, by kind, with zlib's message.
struct GzipError {
    enum class Kind { stream, data, memory, buffer, version, unknown };
    Kind kind;
    int code; // the zlib code; the only detail of `unknown`
    QString message;

    static GzipError fromCode(int code, const char* message);
    const QString& localizedDescription() const { return message; }
};

// Deflates `data`; window bits of 15 + 16 write a gzip wrapper. Empty input
// gives empty output. Throws GzipError.
QByteArray gzipped(const QByteArray& data, CompressionLevel level = {CompressionLevel::defaultCompression},
                   std::int32_t wBits = Gzip::maxWindowBits + 16);

} // namespace analytics
