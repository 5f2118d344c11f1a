#include "Vellox/panels/FeedbackHUDView.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/PanelTexts.h"
#include "Vellox/rewrite/AppReadinessState.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPushButton>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

namespace Tokens = VelloxTokens;

constexpr double kDot = 6;
constexpr double kVerticalPadding = Tokens::Spacing::s + 2;
constexpr int kMaxLines = 2;
const QString kRequestOpenSettings = QStringLiteral("app.vellox.desktop.requestOpenSettings");

} // namespace

FeedbackHUDView::FeedbackHUDView(RewriteFeedbackMessage message, QWidget* parent)
    : QWidget(parent)
    , message_(std::move(message))
{
    if (message_.action) {
        button_ = new QPushButton(actionTitle(*message_.action), this);
        button_->setFlat(true);
        button_->setCursor(Qt::PointingHandCursor);
        button_->setFocusPolicy(Qt::NoFocus);
        button_->setFont(Tokens::Typography::body.font(QFont::DemiBold));
        const QColor accent = Tokens::Colors::accent.resolved(this);
        button_->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 0; "
                                              "color: %1; }")
                                   .arg(accent.name(QColor::HexArgb)));
        const QFontMetricsF metrics(button_->font());
        button_->setFixedSize(int(std::ceil(metrics.horizontalAdvance(button_->text()))) + 2,
                              int(std::ceil(metrics.height())));
        connect(button_, &QPushButton::clicked, this, &FeedbackHUDView::performAction);
    }
    resize(fittingSize());
}

QString FeedbackHUDView::actionTitle(RewriteFeedbackAction action)
{
    switch (action) {
    case RewriteFeedbackAction::openAccessibilitySettings:
        return PanelTexts::openAccessibilitySettings();
    case RewriteFeedbackAction::openSettings:
        return PanelTexts::openSettings();
    case RewriteFeedbackAction::retryPermissionCheck:
        return PanelTexts::retryPermissionCheck();
    }
    return {};
}

QColor FeedbackHUDView::levelColor(RewriteFeedbackMessage::Level level, const QWidget* widget)
{
    switch (level) {
    case RewriteFeedbackMessage::Level::info:
        return Tokens::Colors::accent.resolved(widget);
    case RewriteFeedbackMessage::Level::success:
        return Tokens::Colors::success.resolved(widget);
    case RewriteFeedbackMessage::Level::warning:
        return Tokens::Colors::warning.resolved(widget);
    case RewriteFeedbackMessage::Level::error:
        return Tokens::Colors::danger.resolved(widget);
    }
    return {};
}

double FeedbackHUDView::textWidthFor(int width) const
{
    double used = 2 * Tokens::Spacing::m + kDot + Tokens::Spacing::s;
    if (button_)
        used += Tokens::Spacing::s + button_->width();
    return width - used;
}

QStringList FeedbackHUDView::linesFor(double textWidth) const
{
    const QFont font = Tokens::Typography::body.font();
    QTextLayout layout(message_.text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textWidth);
        if (lines.size() == kMaxLines - 1) {
            // The last line shown takes the rest of the text, cut to fit.
            const QString rest = message_.text.mid(line.textStart());
            lines.append(QFontMetricsF(font).elidedText(rest.simplified(), Qt::ElideRight, textWidth));
            break;
        }
        lines.append(message_.text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

QSize FeedbackHUDView::fittingSize() const
{
    const QFontMetricsF metrics(Tokens::Typography::body.font());
    const double natural = metrics.horizontalAdvance(message_.text);
    const double chrome = 0 - textWidthFor(0);
    const int width = std::clamp(int(std::ceil(natural + chrome)), minWidth, maxWidth);
    const int lines = std::max<int>(1, int(linesFor(textWidthFor(width)).size()));
    double content = std::max(lines * metrics.lineSpacing(), kDot);
    if (button_)
        content = std::max<double>(content, button_->height());
    return QSize(width, std::max(minHeight, int(std::ceil(content + 2 * kVerticalPadding))));
}

QStringList FeedbackHUDView::displayedLines() const
{
    return linesFor(textWidthFor(width()));
}

void FeedbackHUDView::resizeEvent(QResizeEvent*)
{
    if (button_)
        button_->move(int(width() - Tokens::Spacing::m - button_->width()), (height() - button_->height()) / 2);
}

void FeedbackHUDView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double cy = height() / 2.0;
    const double x = Tokens::Spacing::m;
    p.setPen(Qt::NoPen);
    p.setBrush(levelColor(message_.level, this));
    p.drawEllipse(QRectF(x, cy - kDot / 2, kDot, kDot));

    const QFont font = Tokens::Typography::body.font();
    const QFontMetricsF metrics(font);
    const QStringList lines = displayedLines();
    const double tx = x + kDot + Tokens::Spacing::s;
    double y = cy - lines.size() * metrics.lineSpacing() / 2;
    p.setFont(font);
    p.setPen(Tokens::Colors::textPrimary.resolved(this));
    for (const QString& line : lines) {
        p.drawText(QPointF(tx, y + metrics.ascent()), line);
        y += metrics.lineSpacing();
    }
}

void FeedbackHUDView::performAction()
{
    if (!message_.action)
        return;
    switch (*message_.action) {
    case RewriteFeedbackAction::openAccessibilitySettings:
        AppReadinessState::shared().openAccessibilitySettingsAndWatch();
        break;
    case RewriteFeedbackAction::openSettings:
        if (const auto& bus = platform::Platform::current().notifications)
            bus->post(kRequestOpenSettings);
        break;
    case RewriteFeedbackAction::retryPermissionCheck:
        AppReadinessState::shared().schedulePermissionRefresh();
        break;
    }
}
