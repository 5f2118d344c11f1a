#include "AnalyticsExceptionProcessor.h"

#include "crash-reporting/error-tracking/AnalyticsDebugImageProvider.h"
#include "crash-reporting/error-tracking/AnalyticsStackTraceProcessor.h"

#include <cxxabi.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <system_error>
#include <typeinfo>

namespace analytics::AnalyticsExceptionProcessor {

namespace {

// A chain this long is a fault of its own; the rest is left out.
constexpr int kMaxChainLength = 64;

QString demangle(const char* name)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                         &std::free);
    return QString::fromUtf8(status == 0 && readable ? readable.get() : name);
}

qlonglong currentThreadId()
{
    return static_cast<qlonglong>(gettid());
}

std::exception_ptr nestedOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::nested_exception& nested) {
        return nested.nested_ptr();
    } catch (...) {
        return nullptr;
    }
}

QVariantMap mechanism(const QString& type, bool handled, bool synthetic)
{
    return {{QStringLiteral("type"), type},
            {QStringLiteral("handled"), handled},
            {QStringLiteral("synthetic"), synthetic}};
}

QVariantMap buildException(const std::exception_ptr& error, bool handled, const QString& mechanismType,
                           const AnalyticsErrorTrackingConfig& config)
{
    const QString type = typeName(error);
    QVariantMap entry{
        {QStringLiteral("type"), type},
        {QStringLiteral("value"), extractErrorMessage(error)},
        {QStringLiteral("thread_id"), currentThreadId()},
        {QStringLiteral("mechanism"), mechanism(mechanismType, handled, true)},
    };
    if (const std::optional<QString> module = extractModule(type))
        entry.insert(QStringLiteral("module"), *module);
    if (const std::optional<QVariantMap> stack = AnalyticsStackTraceProcessor::buildStacktrace(config))
        entry.insert(QStringLiteral("stacktrace"), *stack);
    return entry;
}

// Sets the list and the images its frames point into; nothing for an empty list.
void attachExceptionsAndDebugImages(const QVariantList& exceptions, QVariantMap& properties)
{
    if (exceptions.isEmpty())
        return;
    properties.insert(QStringLiteral("$exception_list"), exceptions);
    QVariantList frames;
    for (const QVariant& entry : exceptions)
        frames += entry.toMap().value(QStringLiteral("stacktrace")).toMap().value(QStringLiteral("frames")).toList();
    const QVariantList images = AnalyticsDebugImageProvider::getDebugImages(frames);
    if (!images.isEmpty())
        properties.insert(QStringLiteral("$debug_images"), images);
}

} // namespace

QString typeName(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        // std::throw_with_nested throws a library type that wraps the given
        // one; the given one is what the thrower named.
        const QString name = demangle(typeid(exception).name());
        for (const QLatin1String wrapper : {QLatin1String("std::_Nested_exception<"), QLatin1String("std::__nested<")})
            if (name.startsWith(wrapper) && name.endsWith(QLatin1Char('>')))
                return name.mid(wrapper.size(), name.size() - wrapper.size() - 1);
        return name;
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return type ? demangle(type->name()) : QStringLiteral("unknown");
    }
}

QString extractErrorMessage(const std::exception_ptr& error)
{
    QString message;
    std::optional<int> code;
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& exception) {
        message = QString::fromUtf8(exception.what());
        code = exception.code().value();
    } catch (const std::exception& exception) {
        message = QString::fromUtf8(exception.what());
    } catch (...) {
    }
    if (message.isEmpty())
        message = QStringLiteral("Error");
    if (code)
        message += QStringLiteral(" (Code: ") + QString::number(*code) + QLatin1Char(')');
    return message;
}

std::optional<QString> extractModule(const QString& typeName)
{
    // Template arguments may hold namespaces of their own.
    const QString outer = typeName.section(QLatin1Char('<'), 0, 0);
    const qsizetype separator = outer.lastIndexOf(QLatin1String("::"));
    if (separator <= 0)
        return std::nullopt;
    return outer.left(separator);
}

QVariantList buildExceptionList(const std::exception_ptr& error, bool handled, const QString& mechanismType,
                                const AnalyticsErrorTrackingConfig& config)
{
    std::vector<std::exception_ptr> chain;
    for (std::exception_ptr current = error; current && int(chain.size()) < kMaxChainLength;
         current = nestedOf(current)) {
        if (std::find(chain.begin(), chain.end(), current) != chain.end())
            break;
        chain.push_back(current);
    }
    QVariantList list;
    for (const std::exception_ptr& element : chain)
        list.append(buildException(element, handled, mechanismType, config));
    return list;
}

QVariantMap errorToProperties(const std::exception_ptr& error, bool handled, const QString& mechanismType,
                              const AnalyticsErrorTrackingConfig& config)
{
    QVariantMap properties{{QStringLiteral("$exception_level"), QStringLiteral("error")}};
    attachExceptionsAndDebugImages(buildExceptionList(error, handled, mechanismType, config), properties);
    return properties;
}

QVariantMap exceptionToProperties(const VXCrashReporterExceptionInfo& exception, bool handled,
                                  const QString& mechanismType, const AnalyticsErrorTrackingConfig& config)
{
    QVariantMap entry{{QStringLiteral("thread_id"), currentThreadId()}};
    if (!exception.name.isEmpty())
        entry.insert(QStringLiteral("type"), exception.name);
    if (!exception.reason.isEmpty())
        entry.insert(QStringLiteral("value"), exception.reason);
    const bool synthetic = exception.callStackReturnAddresses.empty();
    const std::optional<QVariantMap> stack = synthetic
        ? AnalyticsStackTraceProcessor::buildStacktrace(config)
        : AnalyticsStackTraceProcessor::buildStacktraceFromAddresses(exception.callStackReturnAddresses, config);
    entry.insert(QStringLiteral("mechanism"), mechanism(mechanismType, handled, synthetic));
    if (stack)
        entry.insert(QStringLiteral("stacktrace"), *stack);
    QVariantMap properties{{QStringLiteral("$exception_level"), QStringLiteral("error")}};
    attachExceptionsAndDebugImages(QVariantList{entry}, properties);
    return properties;
}

} // namespace analytics::AnalyticsExceptionProcessor
