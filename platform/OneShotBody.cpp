#include "OneShotBody.h"

#include <algorithm>
#include <cstring>

namespace platform {

OneShotBody::OneShotBody(QByteArray bytes, QObject* parent)
    : QIODevice(parent)
    , bytes_(std::move(bytes))
{
    open(QIODevice::ReadOnly);
}

qint64 OneShotBody::bytesAvailable() const
{
    return bytes_.size() - position_ + QIODevice::bytesAvailable();
}

qint64 OneShotBody::readData(char* data, qint64 maxSize)
{
    const qint64 count = std::min<qint64>(maxSize, bytes_.size() - position_);
    if (count <= 0)
        return maxSize > 0 ? -1 : 0;
    std::memcpy(data, bytes_.constData() + position_, size_t(count));
    position_ += count;
    return count;
}

} // namespace platform
