#include "AnalyticsContext.h"

#include "analytics/AnalyticsBundle.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/Reachability.h"

#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QThread>
#include <QTimeZone>
#include <QWindow>

#include <sys/utsname.h>

namespace analytics {

namespace {

std::optional<QString> readFirmwareText(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(file.read(256)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

QString stringInfo(const char* key)
{
    const QVariant value = bundle::infoValue(QString::fromLatin1(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

} // namespace

QVariantMap AnalyticsContext::parseOsRelease(const QByteArray& text)
{
    QVariantMap values;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        QByteArray value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value.replace("\\\"", "\"").replace("\\\\", "\\");
        values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(value));
    }
    return values;
}

const AnalyticsContext::System& AnalyticsContext::system()
{
    static const System facts = [] {
        System s;
        struct utsname names {};
        const bool haveUname = ::uname(&names) == 0;
        s.machine = haveUname ? QString::fromLatin1(names.machine) : QString();
        QVariantMap release;
        for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
            QFile file(QString::fromLatin1(path));
            if (file.open(QIODevice::ReadOnly)) {
                release = parseOsRelease(file.read(64 * 1024));
                break;
            }
        }
        s.osName = release.value(QStringLiteral("NAME"), QStringLiteral("Linux")).toString();
        s.osVersion = release.value(QStringLiteral("VERSION_ID")).toString();
        if (s.osVersion.isEmpty() && haveUname)
            s.osVersion = QString::fromLatin1(names.release);
        s.manufacturer = readFirmwareText("/sys/class/dmi/id/sys_vendor");
        s.model = readFirmwareText("/sys/class/dmi/id/product_name");
        return s;
    }();
    return facts;
}

AnalyticsContext::AnalyticsContext(std::shared_ptr<Reachability> reachability)
    : reachability_(std::move(reachability))
{
    if (QCoreApplication* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    registerNotifications();
}

AnalyticsContext::~AnalyticsContext()
{
    unregisterNotifications();
}

QVariantMap AnalyticsContext::staticContext()
{
    std::call_once(staticOnce_, [this] {
        QVariantMap map;
        const QString name = stringInfo("CFBundleName");
        const QString displayName = stringInfo("CFBundleDisplayName");
        if (!name.isEmpty())
            map.insert(QStringLiteral("$app_name"), name);
        else if (!displayName.isEmpty())
            map.insert(QStringLiteral("$app_name"), displayName);
        const QVariant version = bundle::infoValue(QStringLiteral("CFBundleShortVersionString"));
        if (version.isValid())
            map.insert(QStringLiteral("$app_version"), version);
        const QVariant build = bundle::infoValue(QStringLiteral("CFBundleVersion"));
        if (build.typeId() == QMetaType::QString)
            map.insert(QStringLiteral("$app_build"), parseBundleVersion(build.toString()));
        map.insert(QStringLiteral("$is_testflight"), false);
        map.insert(QStringLiteral("$is_sideloaded"), false);
        map.insert(QStringLiteral("$app_namespace"), bundle::identifierOrFallback());
        const System& facts = system();
        if (facts.manufacturer)
            map.insert(QStringLiteral("$device_manufacturer"), *facts.manufacturer);
        map.insert(QStringLiteral("$device_model"), facts.machine);
        map.insert(QStringLiteral("$device_type"), QStringLiteral("Desktop"));
        map.insert(QStringLiteral("$is_emulator"), false);
        map.insert(QStringLiteral("$is_ios_running_on_mac"), false);
        map.insert(QStringLiteral("$is_mac_catalyst_app"), false);
        if (facts.model)
            map.insert(QStringLiteral("$device_name"), *facts.model);
        map.insert(QStringLiteral("$os_name"), facts.osName);
        map.insert(QStringLiteral("$os_version"), facts.osVersion);
        staticContext_ = map;
    });
    return staticContext_;
}

QVariantMap AnalyticsContext::sdkInfo()
{
    std::call_once(sdkOnce_, [this] {
        sdkInfo_ = {{QStringLiteral("$lib"), analyticsSdkName()}, {QStringLiteral("$lib_version"), analyticsVersion()}};
    });
    return sdkInfo_;
}

QVariantMap AnalyticsContext::personPropertiesContext()
{
    std::call_once(personOnce_, [this] {
        const QVariantMap stat = staticContext();
        QVariantMap map;
        for (const char* key : {"$app_version", "$app_build", "$app_namespace", "$os_name", "$os_version", "$device_type"})
            if (stat.contains(QLatin1String(key)))
                map.insert(QLatin1String(key), stat.value(QLatin1String(key)));
        const QVariantMap info = sdkInfo();
        for (auto it = info.cbegin(); it != info.cend(); ++it)
            if (!map.contains(it.key()))
                map.insert(it.key(), it.value());
        personProperties_ = map;
    });
    return personProperties_;
}

QVariantMap AnalyticsContext::dynamicContext()
{
    QVariantMap map;
    {
        QMutexLocker lock(&screenSizeLock_);
        if (screenSize_) {
            map.insert(QStringLiteral("$screen_width"), static_cast<float>(screenSize_->width()));
            map.insert(QStringLiteral("$screen_height"), static_cast<float>(screenSize_->height()));
        }
    }
    const QString language = QLocale::languageToCode(QLocale().language());
    if (!language.isEmpty() && QLocale().language() != QLocale::C)
        map.insert(QStringLiteral("$locale"), language);
    map.insert(QStringLiteral("$timezone"), QString::fromUtf8(QTimeZone::systemTimeZoneId()));
    if (reachability_) {
        const Reachability::Connection connection = reachability_->connection();
        map.insert(QStringLiteral("$network_wifi"), connection == Reachability::Connection::wifi);
        map.insert(QStringLiteral("$network_cellular"), connection == Reachability::Connection::cellular);
    }
    return map;
}

void AnalyticsContext::registerNotifications()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || !observers_.isEmpty())
        return;
    observers_ << connect(app, &QGuiApplication::focusWindowChanged, this, [this] { onShouldUpdateScreenSize(); });
    observers_ << connect(app, &QGuiApplication::applicationStateChanged, this, [this] { onShouldUpdateScreenSize(); });
    observers_ << connect(app, &QGuiApplication::screenRemoved, this, [this] { onShouldUpdateScreenSize(); });
}

void AnalyticsContext::unregisterNotifications()
{
    for (const auto& observer : std::as_const(observers_))
        disconnect(observer);
    observers_.clear();
}

void AnalyticsContext::onShouldUpdateScreenSize()
{
    if (QThread::currentThread() == thread())
        readScreenSize();
    else
        QMetaObject::invokeMethod(this, [this] { readScreenSize(); }, Qt::QueuedConnection);
}

void AnalyticsContext::readScreenSize()
{
    std::optional<QSizeF> size;
    if (QWindow* window = QGuiApplication::focusWindow())
        if (QScreen* screen = window->screen())
            size = QSizeF(screen->geometry().size());
    QMutexLocker lock(&screenSizeLock_);
    screenSize_ = size;
}

} // namespace analytics
