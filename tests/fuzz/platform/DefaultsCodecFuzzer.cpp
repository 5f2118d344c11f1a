// A defaults file as the user's disk may hold it: written by any version,
// edited by hand, cut short. Reading may fail, never crash, and whatever is
// read writes back out and reads again.
#include "platform/DefaultsCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QVariantMap values;
    try {
        values = platform::defaults_codec::parseFile(text);
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    const QByteArray written = platform::defaults_codec::serializeFile(values);
    try {
        const QVariantMap again = platform::defaults_codec::parseFile(written);
        if (again.keys() != values.keys())
            std::abort(); // a key changed on the way through
    } catch (const nlohmann::json::exception&) {
        std::abort(); // what we write we must be able to read
    }
    return 0;
}
