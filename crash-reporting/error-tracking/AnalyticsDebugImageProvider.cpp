#include "AnalyticsDebugImageProvider.h"

#include "crash-reporting/error-tracking/AnalyticsStackTraceProcessor.h"

#include <QSet>

#include <elf.h>
#include <link.h>

#include <cstring>

namespace analytics::AnalyticsDebugImageProvider {

namespace {

constexpr size_t kMaxBuildIdBytes = 64;

std::optional<QString> buildId(const dl_phdr_info& image)
{
    for (ElfW(Half) i = 0; i < image.dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = image.dlpi_phdr[i];
        if (segment.p_type != PT_NOTE)
            continue;
        const auto* cursor = reinterpret_cast<const unsigned char*>(image.dlpi_addr + segment.p_vaddr);
        const unsigned char* end = cursor + segment.p_memsz;
        while (cursor + sizeof(ElfW(Nhdr)) <= end) {
            ElfW(Nhdr) note;
            std::memcpy(&note, cursor, sizeof note);
            const size_t nameSize = (note.n_namesz + 3u) & ~size_t(3);
            const size_t descSize = (note.n_descsz + 3u) & ~size_t(3);
            const unsigned char* name = cursor + sizeof note;
            const unsigned char* desc = name + nameSize;
            if (nameSize > size_t(end - name) || descSize > size_t(end - desc))
                break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0 &&
                note.n_descsz > 0 && note.n_descsz <= kMaxBuildIdBytes)
                return extractUUID(desc, note.n_descsz);
            cursor = desc + descSize;
        }
    }
    return std::nullopt;
}

} // namespace

QString extractUUID(const unsigned char* bytes, size_t length)
{
    const QString hex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(length)).toHex()).toUpper();
    return length == 16 ? formattedAsUUID(hex) : hex;
}

std::optional<uint64_t> hexToUInt64(const QString& text)
{
    QString digits = text;
    if (digits.startsWith(QLatin1String("0x")) || digits.startsWith(QLatin1String("0X")))
        digits.remove(0, 2);
    if (digits.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, 16);
    if (!ok)
        return std::nullopt;
    return value;
}

AnalyticsBinaryImageInfo parseImageInfo(const dl_phdr_info& image, const QString& name)
{
    AnalyticsBinaryImageInfo info;
    info.name = name;
    info.uuid = buildId(image);
    std::optional<uint64_t> firstLoad;
    uint64_t codeEnd = 0;
    for (ElfW(Half) i = 0; i < image.dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = image.dlpi_phdr[i];
        if (segment.p_type != PT_LOAD)
            continue;
        if (!firstLoad)
            firstLoad = segment.p_vaddr & ~uint64_t(segment.p_align > 1 ? segment.p_align - 1 : 0);
        if (segment.p_flags & PF_X)
            codeEnd = std::max<uint64_t>(codeEnd, segment.p_vaddr + segment.p_memsz);
    }
    info.vmAddress = firstLoad.value_or(0);
    info.address = image.dlpi_addr + firstLoad.value_or(0);
    info.size = codeEnd > firstLoad.value_or(0) ? codeEnd - firstLoad.value_or(0) : 0;
    return info;
}

QVariantList getDebugImages(const QVariantList& frames)
{
    struct Search {
        QSet<uint64_t> addresses;
        QVariantList found;
        bool first = true;
    } search;
    for (const QVariant& frame : frames) {
        const QVariant address = frame.toMap().value(QStringLiteral("image_addr"));
        if (address.typeId() != QMetaType::QString)
            continue;
        if (const std::optional<uint64_t> value = hexToUInt64(address.toString()))
            search.addresses.insert(*value);
    }
    if (search.addresses.isEmpty())
        return {};
    dl_iterate_phdr(
        [](dl_phdr_info* image, size_t, void* arg) {
            auto* search = static_cast<Search*>(arg);
            const bool mainProgram = search->first;
            search->first = false;
            QString name = image->dlpi_name ? QString::fromLocal8Bit(image->dlpi_name) : QString();
            if (mainProgram && name.isEmpty())
                name = AnalyticsStackTraceProcessor::mainExecutablePath();
            if (name.isEmpty())
                name = QStringLiteral("unknown");
            const AnalyticsBinaryImageInfo info = parseImageInfo(*image, name);
            if (search->addresses.contains(info.address))
                search->found.append(info.toDictionary());
            return 0;
        },
        &search);
    return search.found;
}

} // namespace analytics::AnalyticsDebugImageProvider
