#include "Gzip.h"

#include <zlib.h>

namespace analytics {

namespace {
constexpr qsizetype kChunk = 16384;
}

GzipError GzipError::fromCode(int code, const char* message)
{
    Kind kind = Kind::unknown;
    switch (code) {
    case Z_STREAM_ERROR:
        kind = Kind::stream;
        break;
    case Z_DATA_ERROR:
        kind = Kind::data;
        break;
    case Z_MEM_ERROR:
        kind = Kind::memory;
        break;
    case Z_BUF_ERROR:
        kind = Kind::buffer;
        break;
    case Z_VERSION_ERROR:
        kind = Kind::version;
        break;
    default:
        break;
    }
    QString text;
    if (message) {
        const QByteArray bytes(message);
        text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            text.clear();
    }
    return GzipError{kind, code, text.isEmpty() ? QStringLiteral("Unknown gzip error") : text};
}

QByteArray gzipped(const QByteArray& data, CompressionLevel level, std::int32_t wBits)
{
    if (data.isEmpty())
        return {};
    z_stream stream{};
    int status = deflateInit2(&stream, level.rawValue, Z_DEFLATED, wBits, 9, Z_DEFAULT_STRATEGY);
    if (status != Z_OK)
        throw GzipError::fromCode(status, stream.msg);

    QByteArray out(kChunk, Qt::Uninitialized);
    do {
        if (static_cast<qsizetype>(stream.total_out) >= out.size())
            out.resize(out.size() + kChunk);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData())) + stream.total_in;
        stream.avail_in = static_cast<uInt>(data.size() - static_cast<qsizetype>(stream.total_in));
        stream.next_out = reinterpret_cast<Bytef*>(out.data()) + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - static_cast<qsizetype>(stream.total_out));
        status = deflate(&stream, Z_FINISH);
    } while (stream.avail_out == 0 && status != Z_STREAM_END);

    const QString message = stream.msg ? QString::fromUtf8(stream.msg) : QString();
    const int end = deflateEnd(&stream);
    if (end != Z_OK || status != Z_STREAM_END)
        throw GzipError::fromCode(status == Z_STREAM_END ? end : status, message.isEmpty() ? nullptr : message.toUtf8().constData());
    out.resize(static_cast<qsizetype>(stream.total_out));
    return out;
}

} // namespace analytics
