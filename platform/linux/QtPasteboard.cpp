#include "QtPasteboard.h"

#include "platform/linux/X11Desktop.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QImage>
#include <QGuiApplication>
#include <QMimeData>

#include <xcb/xfixes.h>

#include <algorithm>

namespace platform::linuxbackend {

namespace {

// Bytes a single format may bring along when the clipboard is saved;
// anything bigger is left out rather than held in memory twice.
constexpr qsizetype kMaxFormatBytes = 64 * 1024 * 1024;

// Formats Qt derives from others or uses to talk to itself; putting them
// back by hand would confuse the owner bookkeeping.
// GTK asks for this format before UTF8_STRING; offered, its first request
// already gets the text.
const QString kUtf8TextFormat = QStringLiteral("text/plain;charset=utf-8");
const QString kPlainTextFormat = QStringLiteral("text/plain");

bool isSyntheticFormat(const QString& format)
{
    return format.startsWith(QLatin1String("application/x-qt-")) || format == QLatin1String("TARGETS")
        || format == QLatin1String("MULTIPLE") || format == QLatin1String("TIMESTAMP")
        || format == QLatin1String("SAVE_TARGETS");
}

} // namespace

QtPasteboard::QtPasteboard()
{
    // Creating the clipboard makes Qt ask the server for owner-change
    // notices (XFixes) on its connection; the filter reads them there too.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (xcb_connection_t* connection = x11::applicationConnection()) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        idMask_ = setup->resource_id_mask;
        // As Qt reckons it: the largest request, less the head of a change
        // of property and the length field a big request adds.
        singlePartLimit_ = qsizetype(xcb_get_maximum_request_length(connection)) * 4
            - qsizetype(sizeof(xcb_change_property_request_t)) - 4;
        ourClient_ = setup->resource_id_base & ~idMask_;
        clipboardAtom_ = x11::atom(connection, "CLIPBOARD");
        for (const char* name : {"UTF8_STRING", "TEXT", "text/plain"})
            textFormats_.insert(x11::atom(connection, name), kPlainTextFormat);
        textFormats_.insert(XCB_ATOM_STRING, kPlainTextFormat);
        textFormats_.insert(x11::atom(connection, kUtf8TextFormat.toLatin1().constData()), kUtf8TextFormat);
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
        if (xfixes && xfixes->present) {
            xfixesNotify_ = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
            onX11_ = true;
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
    }
    if (clipboard && !onX11_) {
        // Without the server's notices, a change we did not make stands for
        // a taking by another client.
        connect(clipboard, &QClipboard::changed, this, [this, clipboard](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
                lastOther_ = {0, ++localChanges_};
        });
    }
}

QtPasteboard::~QtPasteboard()
{
    if (onX11_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool QtPasteboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_SELECTION_REQUEST) {
        const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
        const quint32 client = request->requestor & ~idMask_;
        if (request->selection != clipboardAtom_ || client == ourClient_)
            return false;
        // Asking before the paste chord went out, a client answers the change
        // of owner (a clipboard manager does, with the list of formats first).
        if (!chordNoted_)
            ownerChangeFetchers_.insert(client);
        // What Qt answers with our text: a text format we offer, asked for at
        // or after the time we took the clipboard.
        if (offersText(request->target)
            && (request->time == XCB_CURRENT_TIME || ownedSince_ == 0 || request->time >= ownedSince_)) {
            // Qt sends STRING and TEXT as Latin-1, never longer than the
            // bytes weighed here; an answer sent whole but weighed as one in
            // parts still counts once Qt is seen not to watch the window.
            const bool inParts = offered_.value(textFormats_.value(request->target)) > singlePartLimit_;
            fetches_.append(Fetch{client, request->requestor, chordNoted_, inParts});
        }
    } else if (type == xfixesNotify_) {
        const auto* notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        // An owner of none is a clear (ours, or an owner that went away).
        if (notice->selection == clipboardAtom_ && notice->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER
            && notice->owner != XCB_WINDOW_NONE) {
            const quint32 client = notice->owner & ~idMask_;
            if (client != ourClient_) {
                lastOther_ = {notice->owner, notice->selection_timestamp};
                takenBy_.insert(client, lastOther_);
            } else {
                ownedSince_ = notice->selection_timestamp;
            }
        }
    }
    return false;
}

bool QtPasteboard::offersText(quint32 target) const
{
    const auto format = textFormats_.constFind(target);
    return format != textFormats_.cend() && offered_.contains(*format);
}

// Qt sends a big answer in parts and watches the requestor's window for the
// deletions that ask for the next; it stops watching once the last part is
// out. It does not stop when it gives up on a requestor that stopped reading,
// so a window may still be watched for an earlier transfer: only an answer
// that went in parts is judged by the watch, which its own transfer set.
// One that Qt gave up on was never sent in full and never counts.
bool QtPasteboard::sentInFull(const Fetch& fetch) const
{
    if (!fetch.inParts)
        return true;
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection)
        return true;
    xcb_generic_error_t* error = nullptr;
    x11::Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, fetch.requestor), &error));
    std::free(error);
    return !reply || !(reply->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE);
}

Pasteboard::Ownership QtPasteboard::lastTakenBy(quint64 window) const
{
    if (window == 0 || !onX11_)
        return lastOther_;
    return takenBy_.value(quint32(window) & ~idMask_);
}

bool QtPasteboard::fetchedByClientOf(quint64 window) const
{
    if (!onX11_)
        return true;
    const quint32 target = quint32(window) & ~idMask_;
    for (const Fetch& fetch : fetches_) {
        if (chordNoted_ && !fetch.afterChord)
            continue;
        if (window != 0 ? fetch.client != target : chordNoted_ && ownerChangeFetchers_.contains(fetch.client))
            continue;
        if (sentInFull(fetch))
            return true;
    }
    return false;
}

void QtPasteboard::notePasteChord()
{
    chordNoted_ = true;
}

bool QtPasteboard::ownedByUs() const
{
    xcb_connection_t* connection = onX11_ ? x11::applicationConnection() : nullptr;
    if (!connection)
        return true;
    x11::Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboardAtom_), nullptr));
    return reply && reply->owner != XCB_WINDOW_NONE && (reply->owner & ~idMask_) == ourClient_;
}

std::optional<QString> QtPasteboard::primaryTextOf(quint64 window) const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !clipboard->supportsSelection())
        return std::nullopt;
    if (xcb_connection_t* connection = onX11_ ? x11::applicationConnection() : nullptr) {
        x11::Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, XCB_ATOM_PRIMARY), nullptr));
        if (!reply || reply->owner == XCB_WINDOW_NONE)
            return std::nullopt;
        const quint32 owner = reply->owner & ~idMask_;
        if (owner == ourClient_ || (window != 0 && owner != (quint32(window) & ~idMask_)))
            return std::nullopt;
    }
    const QMimeData* data = clipboard->mimeData(QClipboard::Selection);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

std::optional<QString> QtPasteboard::text() const
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtPasteboard::setText(const QString& text)
{
    auto* data = new QMimeData;
    data->setText(text);
    data->setData(kUtf8TextFormat, text.toUtf8());
    install(data);
}

void QtPasteboard::clear()
{
    forgetRequests();
    offered_.clear();
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void QtPasteboard::forgetRequests()
{
    fetches_.clear();
    chordNoted_ = false;
}

Pasteboard::Contents QtPasteboard::contents() const
{
    Contents saved;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return saved;
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        if (isSyntheticFormat(format))
            continue;
        const QByteArray bytes = data->data(format);
        if (bytes.size() > kMaxFormatBytes)
            continue;
        saved.formats.append({format, bytes});
    }
    // Qt keeps an image of its own process as an object, not as bytes.
    const bool hasImageBytes = std::any_of(saved.formats.cbegin(), saved.formats.cend(),
                                           [](const auto& f) { return f.first.startsWith(QLatin1String("image/")); });
    if (data->hasImage() && !hasImageBytes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (qvariant_cast<QImage>(data->imageData()).save(&buffer, "PNG"))
            saved.formats.append({QStringLiteral("image/png"), png});
    }
    return saved;
}

void QtPasteboard::setContents(const Contents& contents)
{
    if (contents.isEmpty()) {
        clear();
        return;
    }
    auto* data = new QMimeData;
    bool hasImage = false;
    for (const auto& [format, bytes] : contents.formats) {
        data->setData(format, bytes);
        // Qt readers, this process included, look for an image object.
        if (!hasImage && format.startsWith(QLatin1String("image/"))) {
            QImage image;
            if (image.loadFromData(bytes)) {
                data->setImageData(image);
                hasImage = true;
            }
        }
    }
    install(data);
}

void QtPasteboard::install(QMimeData* data)
{
    forgetRequests();
    offered_.clear();
    // Only a text is fetched, so only a text is weighed: an image's bytes
    // may have to be made first.
    for (const QString& format : data->formats()) {
        const bool text = format == kPlainTextFormat || format == kUtf8TextFormat;
        offered_.insert(format, text ? data->data(format).size() : 0);
    }
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

} // namespace platform::linuxbackend
