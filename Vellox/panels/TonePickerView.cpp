#include "Vellox/panels/TonePickerView.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/PanelCard.h"
#include "Vellox/panels/PanelTexts.h"
#include "Vellox/panels/SelectionCoordinator.h"
#include "Vellox/panels/SymbolIcons.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

namespace Tokens = VelloxTokens;

constexpr double kHeaderIconSize = 12;
constexpr double kRowIconSize = 13;
constexpr double kRowIconFrame = 18;
constexpr double kRowVerticalPadding = 6;
constexpr double kRowSpacing = 1;
constexpr double kKeyHintPaddingH = 6;
constexpr double kKeyHintPaddingV = 2;
constexpr double kBadgePaddingH = 5;
constexpr double kBadgePaddingV = 1;
constexpr int kMaxTitleLines = 2;
constexpr int kFocusAnimationMs = 120;
constexpr int kLastBadgedNumber = 9;

QString headerSymbol()
{
    return QStringLiteral("wand.and.stars");
}

// Wrapped text: its height at a width, optionally capped at some lines.
double wrappedHeight(const QFont& font, const QString& text, double width, int maxLines = 0)
{
    const QFontMetricsF metrics(font);
    const QRectF bounds =
        metrics.boundingRect(QRectF(0, 0, std::max(1.0, width), 1e6), Qt::TextWordWrap | Qt::AlignLeft, text);
    double height = std::max(bounds.height(), metrics.height());
    if (maxLines > 0)
        height = std::min(height, metrics.lineSpacing() * maxLines);
    return std::ceil(height);
}

} // namespace

// The header: icon, title, and the two key hints on the right.
class TonePickerView::Header : public QWidget {
public:
    explicit Header(QWidget* parent)
        : QWidget(parent)
    {
    }

    void setTitle(const QString& title)
    {
        title_ = title;
        update();
    }

    int heightForWidth(int width) const override
    {
        return int(Tokens::Spacing::m + std::max(titleHeight(width), hintHeight()) + Tokens::Spacing::s);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const double top = Tokens::Spacing::m;
        const double lineHeight = height() - Tokens::Spacing::m - Tokens::Spacing::s;
        double x = Tokens::Spacing::m;
        SymbolIcons::paint(p, QRectF(x, top, kHeaderIconSize + 2, lineHeight), headerSymbol(), kHeaderIconSize + 2,
                           Tokens::Colors::accent.resolved(this));
        x += kHeaderIconSize + 2 + Tokens::Spacing::s;

        double right = width() - Tokens::Spacing::m;
        const double hintY = top + (lineHeight - hintHeight()) / 2;
        const QRectF esc = PanelCard::keyCapRect(PanelTexts::escapeHint(), {}, kKeyHintPaddingH, kKeyHintPaddingV);
        const QRectF escRect(QPointF(right - esc.width(), hintY), esc.size());
        PanelCard::paintKeyCap(p, escRect, PanelTexts::escapeHint(), this);
        right = escRect.left() - Tokens::Spacing::s;
        const QRectF nav = PanelCard::keyCapRect(PanelTexts::navigationHint(), {}, kKeyHintPaddingH, kKeyHintPaddingV);
        const QRectF navRect(QPointF(right - nav.width(), hintY), nav.size());
        PanelCard::paintKeyCap(p, navRect, PanelTexts::navigationHint(), this);

        const double titleWidth = navRect.left() - Tokens::Spacing::s - x;
        p.setFont(Tokens::Typography::headline.font());
        p.setPen(Tokens::Colors::textPrimary.resolved(this));
        const double h = wrappedHeight(p.font(), title_, titleWidth, kMaxTitleLines);
        p.drawText(QRectF(x, top + (lineHeight - h) / 2, titleWidth, h),
                   Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter, title_);
    }

private:
    double hintHeight() const
    {
        return PanelCard::keyCapRect(PanelTexts::escapeHint(), {}, kKeyHintPaddingH, kKeyHintPaddingV).height();
    }
    double titleWidth(int width) const
    {
        const double hints =
            PanelCard::keyCapRect(PanelTexts::escapeHint(), {}, kKeyHintPaddingH, kKeyHintPaddingV).width()
            + PanelCard::keyCapRect(PanelTexts::navigationHint(), {}, kKeyHintPaddingH, kKeyHintPaddingV).width();
        return width - 2 * Tokens::Spacing::m - (kHeaderIconSize + 2) - 3 * Tokens::Spacing::s - hints;
    }
    double titleHeight(int width) const
    {
        return wrappedHeight(Tokens::Typography::headline.font(), title_, titleWidth(width), kMaxTitleLines);
    }

    QString title_;
};

// One row: icon, title, digit badge, on a highlight that fades with focus.
class TonePickerView::Row : public QWidget {
public:
    Row(QString symbol, QString title, std::optional<int> badge, std::function<void()> onTap, QWidget* parent)
        : QWidget(parent)
        , symbol_(std::move(symbol))
        , title_(std::move(title))
        , badge_(badge)
        , onTap_(std::move(onTap))
    {
        setCursor(Qt::PointingHandCursor);
    }

    const QString& symbol() const { return symbol_; }
    const QString& title() const { return title_; }
    std::optional<int> badge() const { return badge_; }
    bool isFocused() const { return focused_; }

    void setFocused(bool focused, bool animated)
    {
        if (focused == focused_)
            return;
        focused_ = focused;
        const double target = focused ? 1 : 0;
        if (animation_)
            animation_->stop();
        if (!animated) {
            progress_ = target;
            update();
            return;
        }
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(kFocusAnimationMs);
        animation->setEasingCurve(QEasingCurve::OutCubic);
        animation->setStartValue(progress_);
        animation->setEndValue(target);
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            progress_ = value.toDouble();
            update();
        });
        animation_ = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }

    int heightForWidth(int width) const override
    {
        const double content = std::max({wrappedHeight(Tokens::Typography::body.font(), title_, titleWidth(width)),
                                         badgeRect(width).height(), kRowIconFrame});
        return int(std::ceil(content + 2 * kRowVerticalPadding));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        if (progress_ > 0) {
            QColor soft = Tokens::Colors::accentSoft.resolved(this);
            soft.setAlphaF(soft.alphaF() * progress_);
            p.setPen(Qt::NoPen);
            p.setBrush(soft);
            p.drawRoundedRect(QRectF(rect()), Tokens::Radius::control, Tokens::Radius::control);
        }
        const double x = Tokens::Spacing::s;
        const QColor secondary = Tokens::Colors::textSecondary.resolved(this);
        const QColor accent = Tokens::Colors::accent.resolved(this);
        const QColor iconColor = QColor::fromRgbF(
            secondary.redF() + (accent.redF() - secondary.redF()) * progress_,
            secondary.greenF() + (accent.greenF() - secondary.greenF()) * progress_,
            secondary.blueF() + (accent.blueF() - secondary.blueF()) * progress_,
            secondary.alphaF() + (accent.alphaF() - secondary.alphaF()) * progress_);
        SymbolIcons::paint(p, QRectF(x, 0, kRowIconFrame, height()), symbol_, kRowIconSize + 1, iconColor);

        const double tx = x + kRowIconFrame + Tokens::Spacing::m;
        const double tw = titleWidth(width());
        p.setFont(Tokens::Typography::body.font());
        p.setPen(Tokens::Colors::textPrimary.resolved(this));
        p.drawText(QRectF(tx, kRowVerticalPadding, tw, height() - 2 * kRowVerticalPadding),
                   Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter, title_);
        if (badge_)
            PanelCard::paintKeyCap(p, badgeRect(width()), QString::number(*badge_), this);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onTap_();
    }

private:
    QRectF badgeRect(int width) const
    {
        if (!badge_)
            return {};
        const QRectF size =
            PanelCard::keyCapRect(QString::number(*badge_), {}, kBadgePaddingH, kBadgePaddingV);
        return QRectF(QPointF(width - Tokens::Spacing::s - size.width(), (height() - size.height()) / 2), size.size());
    }
    double titleWidth(int width) const
    {
        double used = Tokens::Spacing::s + kRowIconFrame + Tokens::Spacing::m + Tokens::Spacing::m
                      + Tokens::Spacing::s + Tokens::Spacing::s;
        if (badge_)
            used += Tokens::Spacing::m + badgeRect(width).width();
        return width - used;
    }

    QString symbol_;
    QString title_;
    std::optional<int> badge_;
    std::function<void()> onTap_;
    bool focused_ = false;
    double progress_ = 0;
    QPointer<QVariantAnimation> animation_;
};

TonePickerView::TonePickerView(SelectionCoordinator& coordinator,
                               std::function<void(const TonePickerChoice&)> onSelect, QWidget* parent)
    : QWidget(parent)
    , coordinator_(coordinator)
    , onSelect_(std::move(onSelect))
    , header_(new Header(this))
    , list_(new QScrollArea(this))
    , listContent_(new QWidget)
{
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setWidgetResizable(false);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->viewport()->setAutoFillBackground(false);
    list_->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    list_->setWidget(listContent_);
    // The scroll area paints its widget's background; the card shows through.
    listContent_->setAutoFillBackground(false);

    connect(&coordinator_, &SelectionCoordinator::rowsChanged, this, &TonePickerView::rebuildRows);
    connect(&coordinator_, &SelectionCoordinator::focusedIndexChanged, this, &TonePickerView::focusChanged);
    rebuildRows();
}

QString TonePickerView::headerTitle() const
{
    const QList<PickerRow>& rows = coordinator_.rows();
    return !rows.isEmpty() && rows.first().isDescribeEdit() ? PanelTexts::pickerTitleWithDescribeEdit()
                                                            : PanelTexts::pickerTitle();
}

QSize TonePickerView::fittingSize() const
{
    return QSize(cardWidth, header_->heightForWidth(cardWidth) + std::min(listContent_->height(), maxListHeight));
}

QList<TonePickerView::RowContent> TonePickerView::rowContents() const
{
    QList<RowContent> contents;
    for (const Row* row : rows_) {
        const QPoint topLeft = row->mapTo(this, QPoint(0, 0));
        contents.append({row->symbol(), row->title(), row->badge(), row->isFocused(), QRect(topLeft, row->size())});
    }
    return contents;
}

int TonePickerView::listScrollOffset() const
{
    return list_->verticalScrollBar()->value();
}

void TonePickerView::rebuildRows()
{
    qDeleteAll(rows_);
    rows_.clear();
    header_->setTitle(headerTitle());
    const QList<PickerRow>& rows = coordinator_.rows();
    const double rowWidth = cardWidth - 2 * Tokens::Spacing::s;
    double y = 0;
    for (qsizetype offset = 0; offset < rows.size(); ++offset) {
        const PickerRow& row = rows[offset];
        const TonePickerChoice choice = row.choice;
        const qsizetype number = offset + 1;
        const std::optional<int> badge =
            number <= kLastBadgedNumber ? std::optional<int>(int(number)) : std::nullopt;
        const QString symbol = row.isDescribeEdit() ? QStringLiteral("text.bubble") : choice.tonePreset().menuSystemImage();
        const QString title = row.isDescribeEdit() ? PanelTexts::describeEdit() : choice.tonePreset().name;
        auto* rowView = new Row(symbol, title, badge, [this, choice] { onSelect_(choice); }, listContent_);
        const int h = rowView->heightForWidth(int(rowWidth));
        rowView->setGeometry(int(Tokens::Spacing::s), int(y), int(rowWidth), h);
        rowView->setFocused(offset == coordinator_.focusedIndex(), false);
        rowView->show();
        rows_.append(rowView);
        y += h + kRowSpacing;
    }
    const double contentHeight = rows.isEmpty() ? 0 : y - kRowSpacing + Tokens::Spacing::s;
    listContent_->resize(cardWidth, int(std::ceil(contentHeight)));
    list_->verticalScrollBar()->setValue(0);
    layoutParts();
}

void TonePickerView::focusChanged(qint64 index)
{
    for (qsizetype i = 0; i < rows_.size(); ++i)
        rows_[i]->setFocused(i == index, true);
    if (index < 0 || index >= rows_.size())
        return;
    const Row* row = rows_[index];
    QScrollBar* bar = list_->verticalScrollBar();
    const int viewport = list_->viewport()->height();
    const int target = std::clamp(row->geometry().center().y() - viewport / 2, bar->minimum(), bar->maximum());
    if (scroll_)
        scroll_->stop();
    auto* animation = new QPropertyAnimation(bar, "value", this);
    animation->setDuration(kFocusAnimationMs);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->setEndValue(target);
    scroll_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void TonePickerView::resizeEvent(QResizeEvent*)
{
    layoutParts();
}

void TonePickerView::layoutParts()
{
    const int headerHeight = header_->heightForWidth(cardWidth);
    header_->setGeometry(0, 0, cardWidth, headerHeight);
    const int listHeight = std::max(0, std::min(height() - headerHeight, maxListHeight));
    list_->setGeometry(0, headerHeight, cardWidth, listHeight);
}
