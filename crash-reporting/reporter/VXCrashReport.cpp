#include "crash-reporting/reporter/VXCrashReport.h"

#include "crash-reporting/reporter/VXCrashReportLimits.h"

#include "VXCrashReport.pb-c.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstring>

namespace {

namespace report_fields {
constexpr uint32_t kThreads = 3, kBinaryImages = 4, kException = 5, kSignal = 6, kCustomData = 10;
constexpr uint32_t kThreadFrames = 2, kThreadRegisters = 4, kExceptionFrames = 3, kSignalMachException = 4;
} // namespace report_fields

constexpr size_t kMaxMachExceptionCodes = 255;
// The type and every code, each a key and a varint at its longest.
constexpr size_t kMaxMachExceptionMessageBytes = (kMaxMachExceptionCodes + 1) * 11;
constexpr uint64_t kCpuTypeArm64 = 0x100000C;
constexpr uint64_t kCpuSubtypeArm64e = 2;
// Pointer-authentication bits sit above the 36 address bits of arm64e pcs.
constexpr uint64_t kArm64ePcMask = 0xFFFFFFFFFULL;

struct Failure {
    int code;
    QString message;
};

// Texts people may read go through the translator, with the text as its own key.
QString localized(const char* text)
{
    return QCoreApplication::translate("VXCrashReport", text);
}

QString optionalString(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

std::optional<QDateTime> dateFromSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// protobuf-c stores any number the file holds in an enum field, and loading a
// number outside the enum as the enum type is undefined. So an enum field is
// read as the integer it is stored as, and a number outside [first, last]
// becomes `unknown`.
template <typename Enum>
int enumField(const Enum& field, int first, int last, int unknown)
{
    static_assert(sizeof(Enum) == sizeof(int32_t), "protobuf-c stores enums as 32-bit integers");
    int32_t value;
    std::memcpy(&value, &field, sizeof value);
    return value >= first && value <= last ? int(value) : unknown;
}

int architectureOf(const Vxcrash__CrashReport__SystemInfo* si)
{
    return enumField(si->architecture, VXCRASH__ARCHITECTURE__X86_32, VXCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN,
                     VXCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN);
}

int operatingSystemOf(const Vxcrash__CrashReport__SystemInfo* si)
{
    constexpr int unknown = VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
    if (!si->has_operating_system)
        return unknown;
    return enumField(si->operating_system, VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X,
                     VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__APPLE_TVOS, unknown);
}

VXCrashReportProcessorInfoPtr processorFrom(const Vxcrash__CrashReport__Processor* p)
{
    constexpr int unknown = VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN;
    const int encoding = p->has_encoding
        ? enumField(p->encoding, unknown, VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH, unknown)
        : unknown;
    return std::make_shared<VXCrashReportProcessorInfo>(encoding, p->type, p->subtype);
}

// The wire format's field keys and values, read without building anything.
class WireReader {
public:
    WireReader(const uint8_t* data, size_t length) : at_(data), end_(data + length) { }

    bool atEnd() const { return at_ == end_; }
    const uint8_t* position() const { return at_; }

    bool varint(uint64_t* value)
    {
        *value = 0;
        for (int shift = 0; shift < 64 && at_ < end_; shift += 7) {
            const uint8_t byte = *at_++;
            *value |= uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }

    // The next field: its number, and for a length-delimited one its bytes;
    // other values are skipped.
    bool field(uint32_t* number, const uint8_t** body, size_t* bodyLength)
    {
        uint64_t key;
        if (!varint(&key))
            return false;
        *number = uint32_t(key >> 3);
        *body = nullptr;
        *bodyLength = 0;
        uint64_t value;
        switch (key & 7) {
        case 0:
            return varint(&value);
        case 1:
            return skip(8);
        case 5:
            return skip(4);
        case 2:
            if (!varint(&value) || value > uint64_t(end_ - at_))
                return false;
            *body = at_;
            *bodyLength = size_t(value);
            at_ += value;
            return true;
        default:
            return false;
        }
    }

private:
    bool skip(size_t count)
    {
        if (size_t(end_ - at_) < count)
            return false;
        at_ += count;
        return true;
    }

    const uint8_t* at_;
    const uint8_t* end_;
};

// What the writer puts in one field of one message at most: how many times
// the field comes, and how many bytes one of them holds. It writes a field
// not listed here as often as it likes if the field is a list, else once.
struct FieldLimit {
    const ProtobufCMessageDescriptor* message;
    uint32_t field;
    size_t maxCount;
    size_t maxBytes;
};

constexpr size_t kAny = SIZE_MAX;

const FieldLimit kFieldLimits[] = {
    // The crashed thread may come on top of the threads listed.
    {&vxcrash__crash_report__descriptor, report_fields::kThreads, kVXCrashReportMaxThreads + 1, kAny},
    {&vxcrash__crash_report__descriptor, report_fields::kBinaryImages, kVXCrashReportMaxImages, kAny},
    {&vxcrash__crash_report__descriptor, report_fields::kCustomData, 1, kVXCrashReportMaxCustomDataBytes},
    {&vxcrash__crash_report__thread__descriptor, report_fields::kThreadFrames, kVXCrashReportMaxFrames, kAny},
    {&vxcrash__crash_report__thread__descriptor, report_fields::kThreadRegisters, kVXCrashReportMaxRegisters, kAny},
    {&vxcrash__crash_report__exception__descriptor, report_fields::kExceptionFrames, kVXCrashReportMaxFrames, kAny},
    // Codes may come packed, so their message is bounded by its bytes.
    {&vxcrash__crash_report__signal__descriptor, report_fields::kSignalMachException, 1,
     kMaxMachExceptionMessageBytes},
};

struct WalkBudget {
    size_t unknownFields = 0;
    size_t unknownBytes = 0;
};

const FieldLimit* limitOf(const ProtobufCMessageDescriptor* message, uint32_t field)
{
    for (const FieldLimit& limit : kFieldLimits) {
        if (limit.message == message && limit.field == field)
            return &limit;
    }
    return nullptr;
}

// False when a message body, or any message nested in it, holds what the
// writer never writes: a field that is no list coming more than once, more
// threads, frames, registers or images, more bytes of custom data or Mach
// exception codes, or unknown fields beyond the allowance. Unpacking
// allocates per entry, so a hostile file is stopped here before it can cost
// memory; and it merges a message that comes again into the one before,
// copying every entry of their lists joined so far, so repeats would cost the
// square of their count in time. A body that does not parse is left to the
// unpacker, which names its error.
bool withinWriterLimits(const ProtobufCMessageDescriptor* message, const uint8_t* data, size_t length,
                        WalkBudget& budget)
{
    constexpr size_t kMaxFieldsPerMessage = 16;
    if (message->n_fields > kMaxFieldsPerMessage)
        return false;
    size_t counts[kMaxFieldsPerMessage] = {};
    WireReader reader(data, length);
    uint32_t number;
    const uint8_t* body;
    size_t bodyLength;
    while (!reader.atEnd()) {
        const uint8_t* start = reader.position();
        if (!reader.field(&number, &body, &bodyLength))
            return true;
        const ProtobufCFieldDescriptor* field = protobuf_c_message_descriptor_get_field(message, number);
        if (!field) {
            budget.unknownBytes += size_t(reader.position() - start);
            if (++budget.unknownFields > kVXCrashReportMaxUnknownFields
                || budget.unknownBytes > kVXCrashReportMaxUnknownBytes) {
                return false;
            }
            continue;
        }
        const FieldLimit* limit = limitOf(message, number);
        const size_t maxCount = limit ? limit->maxCount : field->label == PROTOBUF_C_LABEL_REPEATED ? kAny : 1;
        if (++counts[field - message->fields] > maxCount || (limit && bodyLength > limit->maxBytes))
            return false;
        if (field->type == PROTOBUF_C_TYPE_MESSAGE && body
            && !withinWriterLimits(static_cast<const ProtobufCMessageDescriptor*>(field->descriptor), body,
                                   bodyLength, budget)) {
            return false;
        }
    }
    return true;
}

} // namespace

// Deleter for an unpacked message, so every early return releases it.
struct UnpackedReportDeleter {
    void operator()(Vxcrash__CrashReport* r) const { vxcrash__crash_report__free_unpacked(r, nullptr); }
};

class VXCrashReportDecoder {
public:
    static std::shared_ptr<const VXCrashReport> decode(const QByteArray& data, Failure& failure);

private:
    static std::unique_ptr<Vxcrash__CrashReport, UnpackedReportDeleter> unpack(const QByteArray& data, Failure& failure);
    static bool build(VXCrashReport& report, const Vxcrash__CrashReport& m, Failure& failure);
    static std::shared_ptr<const VXCrashReportStackFrameInfo> frame(const Vxcrash__CrashReport__Thread__StackFrame* f,
                                                                    bool maskPointerAuthentication);
};

std::unique_ptr<Vxcrash__CrashReport, UnpackedReportDeleter> VXCrashReportDecoder::unpack(const QByteArray& data,
                                                                                          Failure& failure)
{
    const int headerLength = VXCrashReportFileMagicLength + 1;
    if (data.size() <= headerLength) {
        failure = {VXCrashReporterErrorCrashReportInvalid, localized("Could not decode truncated crash log")};
        return nullptr;
    }
    if (std::memcmp(data.constData(), VXCrashReportFileMagic, VXCrashReportFileMagicLength) != 0) {
        failure = {VXCrashReporterErrorCrashReportInvalid, localized("Could not decode invalid crash log header")};
        return nullptr;
    }
    const int version = static_cast<unsigned char>(data[VXCrashReportFileMagicLength]);
    if (version != VXCrashReportFileVersion) {
        failure = {VXCrashReporterErrorCrashReportInvalid,
                   localized("Could not decode unsupported crash report version: %d").replace(QLatin1String("%d"), QString::number(version))};
        return nullptr;
    }
    const size_t bodyLength = size_t(data.size() - headerLength);
    const auto* body = reinterpret_cast<const uint8_t*>(data.constData()) + headerLength;
    WalkBudget budget;
    if (size_t(data.size()) > kVXCrashReportMaxBytes
        || !withinWriterLimits(&vxcrash__crash_report__descriptor, body, bodyLength, budget)) {
        failure = {VXCrashReporterErrorCrashReportInvalid,
                   localized("Crash report of %lu bytes holds more than the crash reporter writes.")
                       .replace(QLatin1String("%lu"), QString::number(bodyLength))};
        return nullptr;
    }
    std::unique_ptr<Vxcrash__CrashReport, UnpackedReportDeleter> message(
        vxcrash__crash_report__unpack(nullptr, bodyLength, body));
    if (!message) {
        failure = {VXCrashReporterErrorCrashReportInvalid,
                   localized("Could not decode crash report with size of %lu bytes.").replace(QLatin1String("%lu"), QString::number(bodyLength))};
    }
    return message;
}

std::shared_ptr<const VXCrashReportStackFrameInfo>
VXCrashReportDecoder::frame(const Vxcrash__CrashReport__Thread__StackFrame* f, bool maskPointerAuthentication)
{
    std::shared_ptr<const VXCrashReportSymbolInfo> symbol;
    if (f->symbol) {
        symbol = std::make_shared<VXCrashReportSymbolInfo>(optionalString(f->symbol->name), f->symbol->start_address,
                                                           f->symbol->has_end_address ? f->symbol->end_address : 0);
    }
    const uint64_t pc = maskPointerAuthentication ? (f->pc & kArm64ePcMask) : f->pc;
    return std::make_shared<VXCrashReportStackFrameInfo>(pc, std::move(symbol));
}

bool VXCrashReportDecoder::build(VXCrashReport& report, const Vxcrash__CrashReport& m, Failure& failure)
{
    auto fail = [&failure](QString message) {
        failure = {VXCrashReporterErrorCrashReportInvalid, std::move(message)};
        return false;
    };

    if (m.report_info && m.report_info->has_uuid) {
        if (m.report_info->uuid.len != 16)
            return fail(QStringLiteral("Report UUID value is not a standard 16 bytes"));
        report.uuidRef_ = QUuid::fromRfc4122(
            QByteArrayView(reinterpret_cast<const char*>(m.report_info->uuid.data), 16));
    }

    bool maskPointerAuthentication = false;
    if (m.machine_info) {
        const auto* mi = m.machine_info;
        if (!mi->processor)
            return fail(localized("Crash report is missing Machine Information section"));
        auto processor = processorFrom(mi->processor);
        maskPointerAuthentication = mi->processor->type == kCpuTypeArm64 && mi->processor->subtype == kCpuSubtypeArm64e;
        report.machineInfo_ = std::make_shared<VXCrashReportMachineInfo>(optionalString(mi->model), processor,
                                                                         mi->processor_count, mi->logical_processor_count);
    }

    if (!m.system_info)
        return fail(localized("Crash report is missing System Information section"));
    {
        const auto* si = m.system_info;
        const int architecture = architectureOf(si);
        if (!si->os_version)
            return fail(localized("Crash report is missing System Information OS version field"));
        VXCrashReportProcessorInfoPtr processor;
        if (report.machineInfo_) {
            processor = report.machineInfo_->processorInfo();
        } else {
            struct Row { int architecture; uint64_t type; uint64_t subtype; };
            static constexpr Row table[] = {
                {VXCRASH__ARCHITECTURE__X86_32, 7, 3},          {VXCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
                {VXCRASH__ARCHITECTURE__ARMV6, 12, 6},          {VXCRASH__ARCHITECTURE__PPC, 18, 0},
                {VXCRASH__ARCHITECTURE__PPC64, 0x1000012, 0},   {VXCRASH__ARCHITECTURE__ARMV7, 12, 9},
            };
            for (const Row& row : table) {
                if (row.architecture == architecture) {
                    processor = std::make_shared<VXCrashReportProcessorInfo>(
                        VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH, row.type, row.subtype);
                }
            }
            if (!processor)
                return fail(localized("Crash report has an unknown architecture"));
        }
        std::optional<QDateTime> timestamp;
        if (si->timestamp != 0)
            timestamp = dateFromSeconds(si->timestamp);
        report.systemInfo_ = std::make_shared<VXCrashReportSystemInfo>(
            operatingSystemOf(si), QString::fromUtf8(si->os_version), optionalString(si->os_build), architecture,
            processor, timestamp);
    }

    if (!m.application_info)
        return fail(localized("Crash report is missing Application Information section"));
    if (!m.application_info->identifier)
        return fail(localized("Crash report is missing Application Information app identifier field"));
    if (!m.application_info->version)
        return fail(localized("Crash report is missing Application Information app version field"));
    report.applicationInfo_ = std::make_shared<VXCrashReportApplicationInfo>(
        QString::fromUtf8(m.application_info->identifier), QString::fromUtf8(m.application_info->version),
        optionalString(m.application_info->marketing_version));

    if (m.process_info) {
        const auto* pi = m.process_info;
        std::optional<QDateTime> start;
        // The start time is unsigned on the wire; clamp so a hostile value
        // cannot turn into a negative date.
        if (pi->has_start_time)
            start = dateFromSeconds(qint64(std::min<uint64_t>(pi->start_time, uint64_t(INT64_MAX) / 1000)));
        report.processInfo_ = std::make_shared<VXCrashReportProcessInfo>(
            optionalString(pi->process_name), pi->process_id, optionalString(pi->process_path), start,
            optionalString(pi->parent_process_name), pi->parent_process_id, pi->native != 0);
    }

    if (!m.signal)
        return fail(localized("Crash report is missing Signal Information section"));
    if (!m.signal->name)
        return fail(localized("Crash report is missing signal name field"));
    if (!m.signal->code)
        return fail(localized("Crash report is missing signal code field"));
    report.signalInfo_ = std::make_shared<VXCrashReportSignalInfo>(
        QString::fromUtf8(m.signal->name), QString::fromUtf8(m.signal->code), m.signal->address,
        optionalString(m.signal->crash_info_message));

    if (const auto* me = m.signal->mach_exception) {
        if (me->n_codes > kMaxMachExceptionCodes)
            return fail(localized("Crash report includes too many Mach Exception codes"));
        QList<uint64_t> codes;
        codes.reserve(qsizetype(me->n_codes));
        for (size_t i = 0; i < me->n_codes; ++i)
            codes.append(me->codes[i]);
        report.machExceptionInfo_ = std::make_shared<VXCrashReportMachExceptionInfo>(me->type, std::move(codes));
    }

    if (m.n_threads == 0)
        return fail(localized("Crash report is missing thread state information"));
    for (size_t t = 0; t < m.n_threads; ++t) {
        const auto* thread = m.threads[t];
        VXCrashReportStackFrames frames;
        for (size_t i = 0; i < thread->n_frames; ++i)
            frames.append(frame(thread->frames[i], maskPointerAuthentication));
        QList<std::shared_ptr<const VXCrashReportRegisterInfo>> registers;
        for (size_t i = 0; i < thread->n_registers; ++i) {
            const auto* r = thread->registers[i];
            if (!r->name)
                return fail(QStringLiteral("Missing register name in register value"));
            registers.append(std::make_shared<VXCrashReportRegisterInfo>(QString::fromUtf8(r->name), r->value));
        }
        report.threads_.append(std::make_shared<VXCrashReportThreadInfo>(thread->thread_number, std::move(frames),
                                                                         thread->crashed != 0, std::move(registers)));
    }

    if (m.n_binary_images == 0)
        return fail(localized("Crash report is missing binary image information"));
    for (size_t i = 0; i < m.n_binary_images; ++i) {
        const auto* image = m.binary_images[i];
        if (!image->name)
            return fail(QStringLiteral("Missing image name in image record"));
        QByteArray uuid;
        if (image->has_uuid && image->uuid.len > 0)
            uuid = QByteArray(reinterpret_cast<const char*>(image->uuid.data), qsizetype(image->uuid.len));
        VXCrashReportProcessorInfoPtr codeType;
        if (image->code_type)
            codeType = processorFrom(image->code_type);
        report.images_.append(std::make_shared<VXCrashReportBinaryImageInfo>(
            codeType, image->base_address, image->size, QString::fromUtf8(image->name), uuid));
    }

    if (const auto* ex = m.exception) {
        if (!ex->name)
            return fail(localized("Crash report is missing exception name field"));
        if (!ex->reason)
            return fail(localized("Crash report is missing exception reason field"));
        std::optional<VXCrashReportStackFrames> frames;
        if (ex->n_frames > 0) {
            frames.emplace();
            for (size_t i = 0; i < ex->n_frames; ++i)
                frames->append(frame(ex->frames[i], maskPointerAuthentication));
        }
        report.exceptionInfo_ = std::make_shared<VXCrashReportExceptionInfo>(
            QString::fromUtf8(ex->name), QString::fromUtf8(ex->reason), std::move(frames));
    }

    if (m.has_custom_data)
        report.customData_ = QByteArray(reinterpret_cast<const char*>(m.custom_data.data), qsizetype(m.custom_data.len));
    return true;
}

std::shared_ptr<const VXCrashReport> VXCrashReportDecoder::decode(const QByteArray& data, Failure& failure)
{
    auto message = unpack(data, failure);
    if (!message)
        return nullptr;
    std::shared_ptr<VXCrashReport> report(new VXCrashReport());
    if (!build(*report, *message, failure))
        return nullptr;
    return report;
}

std::shared_ptr<const VXCrashReport> VXCrashReport::fromData(const QByteArray& data, VXCrashReporterError* error)
{
    Failure failure{VXCrashReporterErrorUnknown, QString()};
    auto report = VXCrashReportDecoder::decode(data, failure);
    if (!report && error) {
        error->code = failure.code;
        error->localizedDescription = failure.message;
    }
    return report;
}

std::shared_ptr<const VXCrashReportBinaryImageInfo> VXCrashReport::imageForAddress(uint64_t address) const
{
    for (const auto& image : images_) {
        const uint64_t base = image->imageBaseAddress();
        if (address >= base && address - base < image->imageSize())
            return image;
    }
    return nullptr;
}
