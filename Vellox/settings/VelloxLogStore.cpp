#include "VelloxLogStore.h"

#include "platform/Clock.h"
#include "platform/FileWrites.h"
#include "platform/LogDetail.h"
#include "platform/Platform.h"
#include "platform/StandardPaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VelloxLogStore {

namespace {

constexpr char kRelativeFilePath[] = "Vellox/vellox.log";
constexpr qint64 kRotateAboveBytes = 262'144;
constexpr qint64 kKeptTailBytes = 65'536;
constexpr char kTruncationHeaderStart[] = "--- truncated at ";
constexpr char kTruncationHeaderEnd[] = " ---\n";
// The log can carry provider error bodies; it is nobody else's business.
constexpr unsigned kFileMode = 0600;
// Background work, like a utility-priority queue: below interactive threads.
constexpr int kWorkerNiceness = 10;

// One thread that runs the file work in the order it was queued, so appends
// and rotations never overlap within the process.
class SerialQueue {
public:
    SerialQueue()
        : worker_([this] { run(); })
    {
    }

    // Lines still queued at exit are written before the process goes.
    ~SerialQueue()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }

    void post(std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
    }

private:
    void run()
    {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNiceness);
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            busy_ = false;
            if (jobs_.empty())
                idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

// Everything the file work uses beyond each job's own values lives here, with
// the queue as the last member: the queue goes first, and its worker finishes
// every queued job, at exit too, while the rest still stands.
struct Store {
    // Files whose leftovers were removed by this process; the worker's alone.
    QSet<QString> cleaned;
    SerialQueue queue;
};

Store& store()
{
    static Store instance;
    return instance;
}

// Internet date-time with milliseconds, always in UTC: 2026-01-15T09:30:00.000Z.
// A pure function of its argument, so the caller's thread and the worker can
// both use it.
QString isoTimestamp(const QDateTime& when)
{
    const QDateTime utc = when.toUTC();
    const QDate date = utc.date();
    const QTime time = utc.time();
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", date.year(), date.month(), date.day(),
                             time.hour(), time.minute(), time.second(), time.msec());
}

QDateTime now(const std::shared_ptr<platform::Clock>& clock)
{
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

QString levelWord(Level level)
{
    switch (level) {
    case Level::info: return QStringLiteral("INFO");
    case Level::warn: return QStringLiteral("WARN");
    case Level::error: return QStringLiteral("ERROR");
    }
    return QStringLiteral("INFO");
}

// Characters that editors and line-splitting tools treat as the end of a line.
bool isLineBreak(QChar ch)
{
    switch (ch.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case u'\u0085':
    case u'\u2028':
    case u'\u2029':
        return true;
    default:
        return false;
    }
}

QString quoted(const QString& value)
{
    QString out;
    out.reserve(value.size() + 2);
    out.append(u'"');
    for (const QChar ch : value) {
        if (ch == u'\\')
            out.append(QLatin1String("\\\\"));
        else if (ch == u'"')
            out.append(QLatin1String("\\\""));
        else if (isLineBreak(ch))
            out.append(u' ');
        else
            out.append(ch);
    }
    out.append(u'"');
    return out;
}

// A value goes bare unless it could be mistaken for more than one field or
// break the line: then it is quoted, which also turns its line breaks into
// spaces.
QString escapeField(const QString& value)
{
    for (const QChar ch : value) {
        if (ch == u'"' || ch.isSpace() || ch.category() == QChar::Other_Control)
            return quoted(value);
    }
    return value;
}

QString format(const Entry& entry, const QDateTime& when)
{
    QStringList fields;
    fields.reserve(7);
    fields.append(isoTimestamp(when));
    fields.append(levelWord(entry.level));
    fields.append(QLatin1String("code=") + escapeField(entry.code));
    if (entry.provider)
        fields.append(QLatin1String("provider=") + escapeField(*entry.provider));
    if (entry.model)
        fields.append(QLatin1String("model=") + escapeField(*entry.model));
    fields.append(QLatin1String("msg=") + quoted(entry.msg));
    if (entry.detail && !entry.detail->isEmpty())
        fields.append(QLatin1String("detail=") + quoted(platform::boundedLogDetail(*entry.detail)));
    return fields.join(u' ');
}

QString filePath()
{
    return platform::paths::logsFolder() + u'/' + QLatin1String(kRelativeFilePath);
}

void ensureDirectory(const QString& path)
{
    platform::makePrivateFolder(path.left(path.lastIndexOf(u'/')));
}

void appendLine(const QString& path, const QByteArray& line)
{
    // An existing file that will not take the line is left alone, so the
    // lines already in it survive; this one line is lost.
    if (platform::appendLinesToExistingFile(path, line) == platform::AppendResult::Missing)
        platform::writeFileAtomically(path, line, {.mode = kFileMode, .makeFolders = false});
}

void rotateIfNeeded(const QString& path, const std::shared_ptr<platform::Clock>& clock)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    const qint64 size = info.st_size;
    if (size <= kRotateAboveBytes)
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // One byte before the kept tail tells whether the tail starts on a line
    // of its own, so a line beginning exactly there is kept whole.
    file.seek(size - kKeptTailBytes - 1);
    const QByteArray data = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    // Rewriting after a failed read would throw the kept tail away too.
    if (readFailed)
        return;

    const qsizetype firstLineFeed = data.indexOf('\n');
    const QByteArray kept = firstLineFeed >= 0 ? data.mid(firstLineFeed + 1) : data.mid(1);
    const QByteArray header = kTruncationHeaderStart + isoTimestamp(now(clock)).toUtf8() + kTruncationHeaderEnd;
    platform::writeFileAtomically(path, header + kept, kFileMode);
}

} // namespace

void record(const Entry& entry)
{
    std::shared_ptr<platform::Clock> clock = platform::Platform::current().clock;
    QByteArray line = (format(entry, now(clock)) + u'\n').toUtf8();
    // The path is fixed here too, so the worker never reads the environment
    // while another thread may be changing it.
    QString path = filePath();
    Store& state = store();
    state.queue.post([&state, line = std::move(line), path = std::move(path), clock = std::move(clock)] {
        // Once per file and process: what a killed rotation left.
        if (!state.cleaned.contains(path)) {
            state.cleaned.insert(path);
            platform::removeLeftoverTemporaryFiles(path);
        }
        ensureDirectory(path);
        appendLine(path, line);
        rotateIfNeeded(path, clock);
    });
}

QUrl fileURL()
{
    return QUrl::fromLocalFile(filePath());
}

void waitForPendingWrites()
{
    store().queue.waitUntilIdle();
}

} // namespace VelloxLogStore
