#include "platform/linux/QtPasteboard.h"
#include "platform/linux/X11AccessibilityTrust.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

using platform::linuxbackend::QtPasteboard;
using Contents = platform::Pasteboard::Contents;

namespace {

QByteArray png(QColor colour)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

TEST(QtPasteboardTest, EveryFormatSurvivesARoundTrip)
{
    QtPasteboard board;
    const Contents rich{{{QStringLiteral("text/html"), "<b>hi</b>"},
                         {QStringLiteral("text/plain"), "hi"},
                         {QStringLiteral("image/png"), png(Qt::red)},
                         {QStringLiteral("application/x-vellox-custom"), QByteArray("\x00\x01", 2)}}};
    board.setContents(rich);
    const Contents back = board.contents();
    for (const auto& format : rich.formats) {
        SCOPED_TRACE(format.first.toStdString());
        const auto found = std::find_if(back.formats.cbegin(), back.formats.cend(),
                                        [&](const auto& f) { return f.first == format.first; });
        ASSERT_NE(found, back.formats.cend());
        EXPECT_EQ(found->second, format.second);
    }
    EXPECT_EQ(board.text(), QStringLiteral("hi"));
    // Qt readers see the image as an image.
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasImage());
}

TEST(QtPasteboardTest, AnImageObjectIsSavedAsPngBytes)
{
    QtPasteboard board;
    QImage image(6, 3, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    QGuiApplication::clipboard()->setImage(image);
    const Contents saved = board.contents();
    board.clear();
    EXPECT_FALSE(board.text().has_value());
    board.setContents(saved);
    const QImage back = qvariant_cast<QImage>(QGuiApplication::clipboard()->mimeData()->imageData());
    EXPECT_EQ(back.size(), image.size());
    EXPECT_EQ(back.pixelColor(1, 1), QColor(10, 200, 30));
}

TEST(X11AccessibilityTrustTest, NoDisplayMeansNotTrusted)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb") || !qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "a display is reachable";
    EXPECT_FALSE(platform::linuxbackend::X11AccessibilityTrust().isTrusted());
}
