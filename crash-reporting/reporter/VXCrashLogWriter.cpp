#include "crash-reporting/reporter/VXCrashLogWriter.h"

#include "crash-reporting/reporter/VXCrashAsync.h"
#include "crash-reporting/reporter/VXCrashSignalNames.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char kMagic[] = "vxcrash";
constexpr uint8_t kFormatVersion = 1;

// Field numbers of the report format.
namespace field {
constexpr uint32_t kSystemInfo = 1, kApplicationInfo = 2, kThreads = 3, kBinaryImages = 4, kException = 5,
                   kSignal = 6, kProcessInfo = 7, kMachineInfo = 8, kReportInfo = 9, kCustomData = 10;
}

// Values of the format's enums that this writer records.
constexpr int kOperatingSystemMacOSX = 0;
constexpr int kArchitectureUnknown = 6;
constexpr int kTypeEncodingMach = 1;
constexpr size_t kSymbolNameMax = kVXCrashReportMaxSymbolNameBytes;

struct Context {
    vxcrash_log_writer* writer;
    VXCrashWriterTarget* target;
    bool failed;
};

using Section = size_t (*)(Context&, VXCrashWriterOutput*, const void*);

// Two passes: a dry run sizes the message, then its key, size and contents
// are written. Inside an outer dry run the size alone is enough.
size_t message(Context& ctx, VXCrashWriterOutput* out, uint32_t number, Section section, const void* arg)
{
    const uint32_t size = uint32_t(section(ctx, nullptr, arg));
    const size_t header = vxcrash_writer_pack(out, number, VXCRASH_PACK_MESSAGE, &size, &ctx.failed);
    if (out)
        section(ctx, out, arg);
    return header + size;
}

size_t pack(Context& ctx, VXCrashWriterOutput* out, uint32_t number, vxcrash_pack_kind kind, const void* value)
{
    return vxcrash_writer_pack(out, number, kind, value, &ctx.failed);
}

size_t packString(Context& ctx, VXCrashWriterOutput* out, uint32_t number, const std::string& text)
{
    return pack(ctx, out, number, VXCRASH_PACK_STRING, text.c_str());
}

// Optional texts: an unknown value is left out rather than written empty.
size_t packOptionalString(Context& ctx, VXCrashWriterOutput* out, uint32_t number, const char* text)
{
    return text[0] ? pack(ctx, out, number, VXCRASH_PACK_STRING, text) : 0;
}

size_t packOptionalString(Context& ctx, VXCrashWriterOutput* out, uint32_t number, const std::string& text)
{
    return packOptionalString(ctx, out, number, text.c_str());
}

// Copies a process name, cut where the writer keeps it.
void copyProcessName(char (&to)[kVXCrashProcessNameMax + 1], const char* from, size_t length)
{
    const size_t kept = length < kVXCrashProcessNameMax ? length : kVXCrashProcessNameMax;
    std::memcpy(to, from, kept);
    to[kept] = '\0';
}

// "#" and a decimal number, without the C library's formatting.
void formatNumber(char* buffer, int value)
{
    *buffer++ = '#';
    if (value < 0)
        *buffer++ = '-';
    const unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    *vxcrash_async_append_decimal(buffer, magnitude) = '\0';
}

size_t reportInfo(Context& ctx, VXCrashWriterOutput* out, const void*)
{
    const bool requested = ctx.writer->user_requested;
    const vxcrash_pack_bytes uuid{sizeof ctx.writer->uuid, ctx.writer->uuid};
    return pack(ctx, out, 1, VXCRASH_PACK_BOOL, &requested) + pack(ctx, out, 2, VXCRASH_PACK_BYTES, &uuid);
}

size_t systemInfo(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const int64_t timestamp = *static_cast<const int64_t*>(arg);
    const int os = kOperatingSystemMacOSX;
    const int architecture = kArchitectureUnknown;
    size_t size = pack(ctx, out, 1, VXCRASH_PACK_ENUM, &os);
    size += packString(ctx, out, 2, ctx.writer->system.version);
    size += packOptionalString(ctx, out, 5, ctx.writer->system.build);
    size += pack(ctx, out, 3, VXCRASH_PACK_ENUM, &architecture);
    size += pack(ctx, out, 4, VXCRASH_PACK_INT64, &timestamp);
    return size;
}

struct ProcessorArg {
    uint64_t type;
    uint64_t subtype;
};

size_t processor(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* cpu = static_cast<const ProcessorArg*>(arg);
    const int encoding = kTypeEncodingMach;
    return pack(ctx, out, 1, VXCRASH_PACK_ENUM, &encoding) + pack(ctx, out, 2, VXCRASH_PACK_UINT64, &cpu->type)
           + pack(ctx, out, 3, VXCRASH_PACK_UINT64, &cpu->subtype);
}

size_t machineInfo(Context& ctx, VXCrashWriterOutput* out, const void*)
{
    const auto& machine = ctx.writer->machine;
    const ProcessorArg cpu{machine.cpu_type, machine.cpu_subtype};
    size_t size = packOptionalString(ctx, out, 1, machine.model);
    size += message(ctx, out, 2, processor, &cpu);
    size += pack(ctx, out, 3, VXCRASH_PACK_UINT32, &machine.processor_count);
    size += pack(ctx, out, 4, VXCRASH_PACK_UINT32, &machine.logical_processor_count);
    return size;
}

size_t applicationInfo(Context& ctx, VXCrashWriterOutput* out, const void*)
{
    const auto& app = ctx.writer->application;
    return packString(ctx, out, 1, app.identifier) + packString(ctx, out, 2, app.version)
           + packOptionalString(ctx, out, 3, app.marketing_version);
}

size_t processInfo(Context& ctx, VXCrashWriterOutput* out, const void*)
{
    const auto& process = ctx.writer->process;
    const uint32_t pid = uint32_t(process.pid);
    const uint32_t parent = uint32_t(process.parent_pid);
    const uint64_t start = uint64_t(process.start_time);
    size_t size = packOptionalString(ctx, out, 1, process.name);
    size += pack(ctx, out, 2, VXCRASH_PACK_UINT32, &pid);
    size += packOptionalString(ctx, out, 3, process.path);
    size += packOptionalString(ctx, out, 4, process.parent_name);
    size += pack(ctx, out, 5, VXCRASH_PACK_UINT32, &parent);
    size += pack(ctx, out, 6, VXCRASH_PACK_BOOL, &process.native);
    size += pack(ctx, out, 7, VXCRASH_PACK_UINT64, &start);
    return size;
}

struct SymbolArg {
    const char* name;
    uint64_t start;
};

size_t symbol(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* sym = static_cast<const SymbolArg*>(arg);
    return pack(ctx, out, 1, VXCRASH_PACK_STRING, sym->name) + pack(ctx, out, 2, VXCRASH_PACK_UINT64, &sym->start);
}

struct FrameArg {
    uint64_t pc;
    bool has_symbol;
    SymbolArg symbol;
};

size_t frame(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* f = static_cast<const FrameArg*>(arg);
    size_t size = pack(ctx, out, 3, VXCRASH_PACK_UINT64, &f->pc);
    if (f->has_symbol)
        size += message(ctx, out, 6, symbol, &f->symbol);
    return size;
}

// Looks the symbol of `pc` up when the strategy asks for one and an image holds it.
bool lookUpSymbol(Context& ctx, uint64_t pc, char* name, uint64_t* start)
{
    if (ctx.writer->symbol_strategy == 0)
        return false;
    const void* image = ctx.target->imageContaining(pc);
    if (!image)
        return false;
    name[0] = '\0';
    return ctx.target->findSymbol(image, pc, ctx.writer->symbol_strategy, name, kSymbolNameMax, start);
}

// A return address may lie just past the end of its function (a call that
// never returns is often the last instruction), so the function of a caller's
// frame is looked up one byte earlier.
size_t writeFrame(Context& ctx, VXCrashWriterOutput* out, uint32_t number, uint64_t pc, bool isReturnAddress)
{
    char name[kSymbolNameMax];
    FrameArg f{pc, false, {name, 0}};
    f.has_symbol = lookUpSymbol(ctx, isReturnAddress && pc > 0 ? pc - 1 : pc, name, &f.symbol.start);
    return message(ctx, out, number, frame, &f);
}

struct RegisterArg {
    const char* name;
    uint64_t value;
};

size_t registerValue(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* reg = static_cast<const RegisterArg*>(arg);
    return pack(ctx, out, 1, VXCRASH_PACK_STRING, reg->name) + pack(ctx, out, 2, VXCRASH_PACK_UINT64, &reg->value);
}

constexpr size_t kMaxRegisters = kVXCrashReportMaxRegisters;

// One thread's stack, walked once and then both sized and written from here,
// since walking is the costly part of a report.
struct ThreadArg {
    uint32_t number;
    bool crashed;
    size_t frameCount;
    uint64_t frames[kVXCrashMaxFrames];
    size_t registerCount;
    RegisterArg registers[kMaxRegisters];
};

void walkThread(VXCrashWriterTarget& target, pid_t tid, const void* captured, ThreadArg* t)
{
    t->frameCount = 0;
    t->registerCount = 0;
    if (!target.walkBegin(tid, captured))
        return;
    while (t->frameCount < kVXCrashMaxFrames) {
        if (t->frameCount == 0 && t->crashed) {
            const size_t count = target.registerCount();
            for (size_t i = 0; i < count && i < kMaxRegisters; ++i) {
                RegisterArg& reg = t->registers[t->registerCount++];
                reg.name = target.registerName(i);
                if (!reg.name)
                    reg.name = "";
                if (!target.registerValue(i, &reg.value))
                    reg.value = 0;
            }
        }
        uint64_t pc;
        if (!target.walkPc(&pc))
            break;
        t->frames[t->frameCount++] = pc;
        if (!target.walkNext())
            break;
    }
    target.walkEnd();
}

size_t thread(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* t = static_cast<const ThreadArg*>(arg);
    size_t size = pack(ctx, out, 1, VXCRASH_PACK_UINT32, &t->number);
    size += pack(ctx, out, 3, VXCRASH_PACK_BOOL, &t->crashed);
    for (size_t i = 0; i < t->registerCount; ++i)
        size += message(ctx, out, 4, registerValue, &t->registers[i]);
    for (size_t i = 0; i < t->frameCount; ++i)
        size += writeFrame(ctx, out, 2, t->frames[i], i > 0);
    return size;
}

size_t binaryImage(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* image = static_cast<const vxcrash_writer_image*>(arg);
    size_t size = pack(ctx, out, 2, VXCRASH_PACK_UINT64, &image->size);
    size += pack(ctx, out, 1, VXCRASH_PACK_UINT64, &image->base_address);
    // A path is cut at the longest the decoder accepts.
    const char* name = image->name ? image->name : "";
    size_t nameLength = 0;
    while (nameLength < kVXCrashReportMaxImageNameBytes && name[nameLength])
        ++nameLength;
    const vxcrash_pack_bytes nameBytes{nameLength, reinterpret_cast<const uint8_t*>(name)};
    size += pack(ctx, out, 3, VXCRASH_PACK_BYTES, &nameBytes);
    if (image->uuid && image->uuid_length > 0) {
        const vxcrash_pack_bytes uuid{image->uuid_length, image->uuid};
        size += pack(ctx, out, 4, VXCRASH_PACK_BYTES, &uuid);
    }
    if (image->has_code_type) {
        const ProcessorArg cpu{image->cpu_type, image->cpu_subtype};
        size += message(ctx, out, 5, processor, &cpu);
    }
    return size;
}

size_t exceptionInfo(Context& ctx, VXCrashWriterOutput* out, const void*)
{
    const auto& exception = ctx.writer->exception;
    size_t size = packString(ctx, out, 1, exception.name) + packString(ctx, out, 2, exception.reason);
    const size_t count = exception.addresses.size() < kVXCrashMaxFrames ? exception.addresses.size()
                                                                         : kVXCrashMaxFrames;
    for (size_t i = 0; i < count; ++i)
        size += writeFrame(ctx, out, 3, exception.addresses[i], true);
    return size;
}

struct SignalArg {
    const vxcrash_log_signal_info* info;
    const char* crash_info;
};

size_t machException(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* mach = static_cast<const vxcrash_log_mach_signal_info*>(arg);
    size_t size = pack(ctx, out, 1, VXCRASH_PACK_UINT64, &mach->type);
    for (uint32_t i = 0; i < mach->code_count; ++i)
        size += pack(ctx, out, 2, VXCRASH_PACK_UINT64, &mach->codes[i]);
    return size;
}

size_t signal(Context& ctx, VXCrashWriterOutput* out, const void* arg)
{
    const auto* s = static_cast<const SignalArg*>(arg);
    const vxcrash_log_bsd_signal_info empty{0, 0, 0};
    const vxcrash_log_bsd_signal_info& bsd = s->info && s->info->bsd_info ? *s->info->bsd_info : empty;

    char nameBuffer[24];
    const char* name = vxcrash_async_signal_signame(bsd.signo);
    if (!name) {
        formatNumber(nameBuffer, bsd.signo);
        name = nameBuffer;
    }
    char codeBuffer[24];
    const char* code = vxcrash_async_signal_sigcode(bsd.signo, bsd.code);
    if (!code) {
        formatNumber(codeBuffer, bsd.code);
        code = codeBuffer;
    }
    size_t size = pack(ctx, out, 1, VXCRASH_PACK_STRING, name);
    size += pack(ctx, out, 2, VXCRASH_PACK_STRING, code);
    size += pack(ctx, out, 3, VXCRASH_PACK_UINT64, &bsd.address);
    if (s->info && s->info->mach_info)
        size += message(ctx, out, 4, machException, s->info->mach_info);
    if (s->crash_info && s->crash_info[0])
        size += pack(ctx, out, 5, VXCRASH_PACK_STRING, s->crash_info);
    return size;
}

void writeThread(Context& ctx, VXCrashWriterOutput* out, pid_t tid, uint32_t number, bool crashed,
                 const void* captured)
{
    ThreadArg arg;
    arg.number = number;
    arg.crashed = crashed;
    walkThread(*ctx.target, tid, captured, &arg);
    message(ctx, out, field::kThreads, thread, &arg);
}

} // namespace

int vxcrash_log_writer_init_with_facts(vxcrash_log_writer* writer, const vxcrash_writer_facts& facts,
                                       const std::string& app_identifier, const std::string& app_version,
                                       const std::string& app_marketing_version, uint32_t symbol_strategy,
                                       bool user_requested)
{
    writer->symbol_strategy = symbol_strategy;
    writer->user_requested = user_requested;
    std::memcpy(writer->uuid, facts.uuid, sizeof writer->uuid);

    writer->application.identifier = app_identifier;
    writer->application.version = app_version;
    writer->application.marketing_version = app_marketing_version;

    if (!facts.has_process)
        return VXCRASH_WRITER_INVALID_ARGUMENT;
    writer->process.pid = facts.pid;
    copyProcessName(writer->process.name, facts.process_name.data(), facts.process_name.size());
    writer->process.start_time = facts.start_time;
    writer->process.path = facts.process_path;
    writer->process.parent_pid = facts.parent_pid;
    copyProcessName(writer->process.parent_name, facts.parent_name.data(), facts.parent_name.size());
    // No process of this system runs translated.
    writer->process.native = true;

    writer->machine.model = facts.model;
    writer->machine.cpu_type = facts.cpu_type;
    writer->machine.cpu_subtype = facts.cpu_subtype;
    writer->machine.processor_count = facts.processor_count;
    writer->machine.logical_processor_count = facts.logical_processor_count;

    writer->system.build = facts.os_build;
    writer->system.version = facts.os_version.empty() ? "0.0" : facts.os_version;

    // A signal handler on another thread must see the finished state.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return VXCRASH_WRITER_OK;
}

int vxcrash_log_writer_init(vxcrash_log_writer* writer, const std::string& app_identifier,
                            const std::string& app_version, const std::string& app_marketing_version,
                            uint32_t symbol_strategy, bool user_requested)
{
    return vxcrash_log_writer_init_with_facts(writer, vxcrash_writer_facts::current(), app_identifier, app_version,
                                              app_marketing_version, symbol_strategy, user_requested);
}

void vxcrash_log_writer_forked(vxcrash_log_writer* writer, pid_t child, int64_t child_start_time)
{
    auto& process = writer->process;
    process.parent_pid = process.pid;
    std::memcpy(process.parent_name, process.name, sizeof process.name);
    process.pid = child;
    process.start_time = child_start_time;
    vxcrash_new_report_id(writer->uuid);
}

bool vxcrash_new_report_id(uint8_t uuid[16])
{
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const long result = syscall(SYS_getrandom, bytes + got, sizeof bytes - got, 0);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        got += size_t(result);
    }
    bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40);
    bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80);
    std::memcpy(uuid, bytes, sizeof bytes);
    return true;
}

void vxcrash_log_writer_set_exception(vxcrash_log_writer* writer, const std::string& name,
                                      const std::string& reason, const std::vector<uint64_t>& return_addresses)
{
    if (writer->exception.present) {
        std::fputs("[VXCrashReporter] An exception was already set on this crash log writer\n", stderr);
        std::abort();
    }
    writer->exception.name = name.substr(0, kVXCrashReportMaxExceptionTextBytes);
    writer->exception.reason = reason.substr(0, kVXCrashReportMaxExceptionTextBytes);
    writer->exception.addresses = return_addresses;
    writer->exception.present = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

bool vxcrash_log_writer_set_custom_data(vxcrash_log_writer* writer, const void* data, size_t length)
{
    if (data && length > kVXCrashReportMaxCustomDataBytes)
        return false;
    vxcrash_custom_data_block* block = nullptr;
    if (data) {
        // One allocation: the header, then the bytes.
        auto* memory = static_cast<uint8_t*>(std::malloc(sizeof(vxcrash_custom_data_block) + length + 1));
        if (!memory)
            return false;
        block = reinterpret_cast<vxcrash_custom_data_block*>(memory);
        uint8_t* bytes = memory + sizeof(vxcrash_custom_data_block);
        if (length)
            std::memcpy(bytes, data, length);
        block->length = length;
        block->bytes = bytes;
    }
    vxcrash_custom_data_block* previous = writer->custom_data.exchange(block, std::memory_order_seq_cst);
    std::lock_guard lock(writer->retired_mutex);
    if (previous)
        writer->retired.push_back(previous);
    // A report counts itself before it loads the block, so with no report
    // counted now, none can hold a replaced one.
    if (writer->custom_data_readers.load(std::memory_order_seq_cst) == 0) {
        for (vxcrash_custom_data_block* retired : writer->retired)
            std::free(retired);
        writer->retired.clear();
    }
    return true;
}

int vxcrash_log_writer_write(vxcrash_log_writer* writer, VXCrashWriterTarget& target, pid_t crashed_thread,
                             VXCrashWriterOutput* output, const vxcrash_log_signal_info* signal_info,
                             const void* captured)
{
    Context ctx{writer, &target, false};

    const bool listed = target.suspendThreads();
    const int symbols = target.prepareSymbols();
    if (symbols != VXCRASH_WRITER_OK) {
        target.resumeThreads();
        return symbols;
    }

    ctx.failed |= !output->write(kMagic, sizeof kMagic - 1);
    ctx.failed |= !output->write(&kFormatVersion, 1);

    message(ctx, output, field::kReportInfo, reportInfo, nullptr);

    struct timespec now;
    const int64_t timestamp = writer->clock                                  ? writer->clock()
                              : clock_gettime(CLOCK_REALTIME, &now) == 0 ? int64_t(now.tv_sec)
                                                                         : 0;
    message(ctx, output, field::kSystemInfo, systemInfo, &timestamp);
    message(ctx, output, field::kMachineInfo, machineInfo, nullptr);
    message(ctx, output, field::kApplicationInfo, applicationInfo, nullptr);
    message(ctx, output, field::kProcessInfo, processInfo, nullptr);

    // Threads in the kernel's order. The calling thread is listed only with
    // the state it captured; the crashed thread is written even when the
    // list could not be had.
    const pid_t self = target.currentThreadId();
    const size_t count = listed ? target.threadCount() : 0;
    uint32_t number = 0;
    bool crashedWritten = false;
    for (size_t i = 0; i < count; ++i) {
        const pid_t tid = target.threadId(i);
        const bool isSelf = tid == self;
        if (isSelf && !captured)
            continue;
        const bool crashed = tid == crashed_thread;
        writeThread(ctx, output, tid, number++, crashed, isSelf ? captured : nullptr);
        crashedWritten |= crashed;
    }
    if (!crashedWritten)
        writeThread(ctx, output, crashed_thread, number, true, crashed_thread == self ? captured : nullptr);

    // The crash-info message: first from the image holding the fault address,
    // then from the first image that has one.
    char crashInfo[kVXCrashInfoMessageMax + 1];
    std::memset(crashInfo, 0, sizeof crashInfo);
    bool foundCrashInfo = false;
    target.imagesBeginRead();
    const uint64_t faultAddress = signal_info && signal_info->bsd_info ? signal_info->bsd_info->address : 0;
    if (faultAddress != 0) {
        if (const void* image = target.imageContaining(faultAddress))
            foundCrashInfo = target.crashInfoMessage(image, crashInfo, sizeof crashInfo);
    }
    vxcrash_writer_image info;
    size_t images = 0;
    for (const void* image = target.nextImage(nullptr, &info); image && images < kVXCrashReportMaxImages;
         image = target.nextImage(image, &info), ++images) {
        message(ctx, output, field::kBinaryImages, binaryImage, &info);
        if (!foundCrashInfo)
            foundCrashInfo = target.crashInfoMessage(image, crashInfo, sizeof crashInfo);
    }
    target.imagesEndRead();

    if (writer->exception.present)
        message(ctx, output, field::kException, exceptionInfo, nullptr);

    const SignalArg signalArg{signal_info, foundCrashInfo ? crashInfo : nullptr};
    message(ctx, output, field::kSignal, signal, &signalArg);

    writer->custom_data_readers.fetch_add(1, std::memory_order_seq_cst);
    if (const vxcrash_custom_data_block* custom = writer->custom_data.load(std::memory_order_seq_cst)) {
        const vxcrash_pack_bytes bytes{custom->length, custom->bytes};
        vxcrash_writer_pack(output, field::kCustomData, VXCRASH_PACK_BYTES, &bytes, &ctx.failed);
    }
    writer->custom_data_readers.fetch_sub(1, std::memory_order_seq_cst);

    target.releaseSymbols();
    target.resumeThreads();
    return ctx.failed ? VXCRASH_WRITER_OUTPUT : VXCRASH_WRITER_OK;
}

int vxcrash_log_writer_close(vxcrash_log_writer*)
{
    return VXCRASH_WRITER_OK;
}

void vxcrash_log_writer_free(vxcrash_log_writer* writer)
{
    std::free(writer->custom_data.exchange(nullptr));
    std::lock_guard lock(writer->retired_mutex);
    for (vxcrash_custom_data_block* block : writer->retired)
        std::free(block);
    writer->retired.clear();
}
