#pragma once

#include "crash-reporting/reporter/VXCrashWriterPack.h"

#include <QByteArray>

#include <cstdint>

// Collects the writer's bytes in memory; with a limit, refuses what would
// pass it, as a capped file does.
class MemoryWriterOutput final : public VXCrashWriterOutput {
public:
    explicit MemoryWriterOutput(qsizetype limit = 0) : limit_(limit) { }
    bool write(const void* data, size_t length) override
    {
        if (limit_ && bytes.size() + qsizetype(length) > limit_)
            return false;
        bytes.append(static_cast<const char*>(data), qsizetype(length));
        return true;
    }
    QByteArray bytes;

private:
    qsizetype limit_;
};

// Protocol-buffer fields written out by hand, so expected bytes do not come
// from the code under test.
class ProtoBytes {
public:
    ProtoBytes& varint(uint32_t field, uint64_t value)
    {
        key(field, 0);
        putVarint(value);
        return *this;
    }
    ProtoBytes& text(uint32_t field, const QByteArray& value)
    {
        key(field, 2);
        putVarint(uint64_t(value.size()));
        bytes += value;
        return *this;
    }
    ProtoBytes& message(uint32_t field, const ProtoBytes& inner) { return text(field, inner.bytes); }
    QByteArray bytes;

private:
    void key(uint32_t field, uint32_t wire) { putVarint((uint64_t(field) << 3) | wire); }
    void putVarint(uint64_t value)
    {
        do {
            char byte = char(value & 0x7F);
            value >>= 7;
            if (value)
                byte = char(byte | 0x80);
            bytes += byte;
        } while (value);
    }
};
