#include "CrashWriterOutputs.h"
#include "crash-reporting/reporter/VXCrashWriterPack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Case {
    const char* name;
    vxcrash_pack_kind kind;
    std::vector<uint8_t> value; // the value's bytes in its C type
    QByteArray expected;
};

template <typename T> std::vector<uint8_t> raw(T value)
{
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

} // namespace

TEST(VXCrashWriterPack, EncodesEveryValueKind)
{
    const Case cases[] = {
        {"int32", VXCRASH_PACK_INT32, raw<int32_t>(150), QByteArray::fromHex("089601")},
        {"negative int32 takes ten bytes", VXCRASH_PACK_INT32, raw<int32_t>(-1),
         QByteArray::fromHex("08ffffffffffffffffff01")},
        {"sint32 zig-zag", VXCRASH_PACK_SINT32, raw<int32_t>(-2), QByteArray::fromHex("0803")},
        {"sint64 zig-zag", VXCRASH_PACK_SINT64, raw<int64_t>(INT64_MIN), QByteArray::fromHex("08ffffffffffffffffff01")},
        {"sfixed32", VXCRASH_PACK_SFIXED32, raw<int32_t>(-2), QByteArray::fromHex("0dfeffffff")},
        {"int64", VXCRASH_PACK_INT64, raw<int64_t>(1700000000), QByteArray::fromHex("0880e2cfaa06")},
        {"sfixed64", VXCRASH_PACK_SFIXED64, raw<int64_t>(1), QByteArray::fromHex("090100000000000000")},
        {"uint32", VXCRASH_PACK_UINT32, raw<uint32_t>(300), QByteArray::fromHex("08ac02")},
        {"fixed32", VXCRASH_PACK_FIXED32, raw<uint32_t>(0x01020304), QByteArray::fromHex("0d04030201")},
        {"uint64 at the top", VXCRASH_PACK_UINT64, raw<uint64_t>(UINT64_MAX),
         QByteArray::fromHex("08ffffffffffffffffff01")},
        {"fixed64", VXCRASH_PACK_FIXED64, raw<uint64_t>(0x0102030405060708ull), QByteArray::fromHex("090807060504030201")},
        {"float", VXCRASH_PACK_FLOAT, raw<float>(1.0f), QByteArray::fromHex("0d0000803f")},
        {"double", VXCRASH_PACK_DOUBLE, raw<double>(1.0), QByteArray::fromHex("09000000000000f03f")},
        {"bool", VXCRASH_PACK_BOOL, raw<bool>(true), QByteArray::fromHex("0801")},
        {"enum", VXCRASH_PACK_ENUM, raw<int>(6), QByteArray::fromHex("0806")},
        {"embedded message writes key and size only", VXCRASH_PACK_MESSAGE, raw<uint32_t>(200),
         QByteArray::fromHex("0ac801")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryWriterOutput out;
        const size_t dry = vxcrash_writer_pack(nullptr, 1, c.kind, c.value.data());
        const size_t written = vxcrash_writer_pack(&out, 1, c.kind, c.value.data());
        EXPECT_EQ(out.bytes.toHex(), c.expected.toHex());
        EXPECT_EQ(dry, size_t(c.expected.size()));
        EXPECT_EQ(written, dry);
    }
}

TEST(VXCrashWriterPack, StringsAndBytesAreLengthPrefixed)
{
    MemoryWriterOutput out;
    EXPECT_EQ(vxcrash_writer_pack(&out, 2, VXCRASH_PACK_STRING, "SIGSEGV"), 9u);
    const char data[] = {0, 1, 0, 2};
    const vxcrash_pack_bytes bytes{sizeof data, data};
    EXPECT_EQ(vxcrash_writer_pack(&out, 20, VXCRASH_PACK_BYTES, &bytes), 7u);
    EXPECT_EQ(out.bytes, QByteArray("\x12\x07SIGSEGV", 9) + QByteArray("\xa2\x01\x04\x00\x01\x00\x02", 7));
}

TEST(VXCrashWriterPack, ReportsARefusedWrite)
{
    MemoryWriterOutput out(3);
    bool failed = false;
    const uint64_t value = 1;
    vxcrash_writer_pack(&out, 1, VXCRASH_PACK_UINT64, &value, &failed);
    EXPECT_FALSE(failed);
    vxcrash_writer_pack(&out, 2, VXCRASH_PACK_STRING, "too long", &failed);
    EXPECT_TRUE(failed);
}

TEST(VXCrashWriterPackDeathTest, UnknownKindAborts)
{
    const uint32_t value = 0;
    EXPECT_DEATH(vxcrash_writer_pack(nullptr, 1, vxcrash_pack_kind(17), &value), "");
}
