#include "Vellox/app/ConnectPanel.h"

#include "Vellox/app/BusyIndicator.h"
#include "Vellox/app/DetachedKeyRead.h"
#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/KitPainting.h"
#include "Vellox/app/LinkButton.h"
#include "Vellox/app/LinkOpening.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/RephraseShortcut.h"
#include "Vellox/app/SegmentedControl.h"
#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

using namespace VelloxTokens;

namespace {

constexpr int kConnectWidth = 96;
constexpr int kResultHeight = 18;
constexpr int kStateMinHeight = 28;
constexpr qreal kBorderRadius = 5;

// The red ring over the key field; it lets clicks through.
class ErrorBorder : public QWidget {
public:
    ErrorBorder(QVariantAnimation* fade, QWidget* parent)
        : QWidget(parent)
        , fade_(fade)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        connect(fade, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const qreal opacity = fade_->currentValue().toReal();
        if (opacity <= 0)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setOpacity(opacity);
        painter.setPen(QPen(Colors::danger.resolved(this), 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kBorderRadius, kBorderRadius);
    }

private:
    QVariantAnimation* fade_;
};

class ConnectedMark : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        SymbolImage::paint(painter, QRectF(rect()), QStringLiteral("checkmark.circle.fill"),
                           Colors::success.resolved(this), 22, QFont::DemiBold);
    }
};

QFont monospacedBody()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(Typography::body.pixelSize);
    return font;
}

} // namespace

const QList<ProviderId>& ConnectPanel::segmentProviders()
{
    static const QList<ProviderId> order{ProviderId::openaiCompatible, ProviderId::anthropic, ProviderId::gemini};
    return order;
}

QUrl ConnectPanel::signupURL(ProviderId provider)
{
    switch (provider) {
    case ProviderId::gemini:
        return QUrl(QStringLiteral("https://aistudio.google.com/app/apikey"));
    case ProviderId::anthropic:
        return QUrl(QStringLiteral("https://console.anthropic.com/settings/keys"));
    case ProviderId::openaiCompatible:
    case ProviderId::mock:
        break;
    }
    return QUrl(QStringLiteral("https://platform.openai.com/api-keys"));
}

QString ConnectPanel::linkTitle(ProviderId provider)
{
    switch (provider) {
    case ProviderId::gemini:
        return QStringLiteral("Get a Gemini key →");
    case ProviderId::anthropic:
        return QStringLiteral("Get a Claude key →");
    case ProviderId::openaiCompatible:
    case ProviderId::mock:
        break;
    }
    return QStringLiteral("Get an OpenAI key →");
}

ConnectPanel::ConnectPanel(State& state, std::function<void()> onAdvance, QWidget* parent)
    : QWidget(parent)
    , state_(state)
    , onAdvance_(std::move(onAdvance))
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(int(Spacing::l));

    auto* header = new QVBoxLayout;
    header->setSpacing(int(Spacing::xs));
    auto* title = ShellWidgets::text(QStringLiteral("Better writing in every app."), Typography::title,
                                     Colors::textPrimary, true);
    tagline_ = ShellWidgets::text(QString(), Typography::body, Colors::textSecondary, true);
    auto* privacy = ShellWidgets::text(QStringLiteral("Vellox uses your provider account. Selected text is sent to that "
                                                      "service for rewriting. Your API key stays in your keyring."),
                                       Typography::secondary, Colors::textSecondary, true);
    for (QLabel* label : {title, tagline_, privacy}) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        ShellWidgets::fixWidth(label, kColumnWidth);
        header->addWidget(label, 0, Qt::AlignHCenter);
    }
    root->addLayout(header);

    auto* form = new QVBoxLayout;
    form->setSpacing(int(Spacing::s));
    picker_ = new SegmentedControl({QStringLiteral("OpenAI"), QStringLiteral("Claude"), QStringLiteral("Gemini")});
    picker_->setAccessibleName(QStringLiteral("Provider"));
    picker_->setFixedWidth(kColumnWidth);
    connect(picker_, &SegmentedControl::activated, this,
            [this](int index) { pickProvider(segmentProviders().at(index)); });
    form->addWidget(picker_, 0, Qt::AlignHCenter);

    auto* keyRow = new QWidget;
    keyRow->setFixedWidth(kColumnWidth);
    auto* keyLayout = new QHBoxLayout(keyRow);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    keyLayout->setSpacing(int(Spacing::s));
    keyField_ = new QLineEdit;
    keyField_->setObjectName(QStringLiteral("apiKeyField"));
    keyField_->setEchoMode(QLineEdit::Password);
    keyField_->setPlaceholderText(QStringLiteral("Paste your API key"));
    keyField_->setAccessibleName(QStringLiteral("API key"));
    keyField_->setFont(monospacedBody());
    keyField_->setMinimumHeight(kStateMinHeight);
    keyField_->installEventFilter(this);
    // Any change counts, not only typing: a password manager or a screen
    // reader sets the text without key presses. The panel's own setText in
    // sync() is blocked, so it never reads as an edit.
    connect(keyField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        state_.apiKey = text;
        if (state_.connection.kind == ConnectionState::Kind::failed)
            setConnection(ConnectionState::idle());
        sync();
    });
    connect(keyField_, &QLineEdit::returnPressed, this, &ConnectPanel::submit);
    borderFade_ = KitPainting::makeFade(keyField_, Motion::emphasisMs);
    errorBorder_ = new ErrorBorder(borderFade_, keyField_);
    keyLayout->addWidget(keyField_, 1);

    connectArea_ = new QStackedWidget;
    connectArea_->setFixedWidth(kConnectWidth);
    connectArea_->setMinimumHeight(kStateMinHeight);
    connectButton_ = new PrimaryButton(QStringLiteral("Connect"), std::nullopt, [this] { submit(); });
    connectButton_->setObjectName(QStringLiteral("connectButton"));
    connectArea_->addWidget(connectButton_);
    auto* busyHolder = new QWidget;
    auto* busyLayout = new QHBoxLayout(busyHolder);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->addWidget(new BusyIndicator(16), 0, Qt::AlignCenter);
    connectArea_->addWidget(busyHolder);
    connectArea_->addWidget(new ConnectedMark);
    keyLayout->addWidget(connectArea_);
    form->addWidget(keyRow, 0, Qt::AlignHCenter);

    result_ = new InlineStatus(InlineStatus::Tone::neutral, QString());
    result_->setObjectName(QStringLiteral("connectResult"));
    result_->setFixedSize(kColumnWidth, kResultHeight);
    form->addWidget(result_, 0, Qt::AlignHCenter);
    root->addLayout(form);

    signup_ = new LinkButton(linkTitle(state_.provider), std::nullopt,
                             [this] { LinkOpening::open(signupURL(state_.provider)); });
    signup_->setObjectName(QStringLiteral("signupLink"));
    root->addWidget(signup_, 0, Qt::AlignHCenter);
    root->addStretch(1);

    tagline_->setText(QStringLiteral("Select text. Press ") + shortcutTagline_ + QStringLiteral(". Done."));
    ShellWidgets::fixWidth(tagline_, kColumnWidth);
    sync();
}

bool ConnectPanel::isConnectEnabled() const
{
    return connectButton_->isEnabled();
}

bool ConnectPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == keyField_ && event->type() == QEvent::Resize)
        errorBorder_->setGeometry(keyField_->rect());
    return QWidget::eventFilter(watched, event);
}

void ConnectPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_)
        return;
    appeared_ = true;
    QPointer<ConnectPanel> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self)
                self->appear();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> ConnectPanel::appear()
{
    QPointer<ConnectPanel> self(this);
    shortcutTagline_ = RephraseShortcut::displayText();
    tagline_->setText(QStringLiteral("Select text. Press ") + shortcutTagline_ + QStringLiteral(". Done."));
    ShellWidgets::fixWidth(tagline_, kColumnWidth);
    co_await adoptSavedKeyIfPresent();
    if (!self)
        co_return;
    // A timer owned by the panel rather than a sleep in this coroutine, so a
    // panel closed meanwhile leaves nothing suspended behind.
    QTimer::singleShot(kFocusDelayMs, this, [this] { keyField_->setFocus(Qt::OtherFocusReason); });
}

void ConnectPanel::pickProvider(ProviderId provider)
{
    if (state_.connection.kind == ConnectionState::Kind::validating)
        return;
    const bool changed = provider != state_.provider;
    state_.provider = provider;
    if (changed) {
        if (state_.connection.kind != ConnectionState::Kind::idle)
            setConnection(ConnectionState::idle());
        QPointer<ConnectPanel> self(this);
        QMetaObject::invokeMethod(
            this, [self] {
                if (self)
                    self->adoptSavedKeyIfPresent();
            },
            Qt::QueuedConnection);
    }
    sync();
}

void ConnectPanel::submit()
{
    const QString key = state_.apiKey.trimmed();
    if (key.isEmpty())
        return;
    setConnection(ConnectionState::validating());
    showFieldErrorBorder_ = false;
    KitPainting::fadeTo(borderFade_, 0.0);
    const quint64 generation = ++state_.submitGeneration;
    QPointer<ConnectPanel> self(this);
    const ProviderId provider = state_.provider;
    QMetaObject::invokeMethod(
        this, [self, generation, provider, key] {
            if (self)
                self->validate(generation, provider, key);
        },
        Qt::QueuedConnection);
    sync();
}

QCoro::Task<void> ConnectPanel::validate(quint64 generation, ProviderId provider, QString key)
{
    QPointer<ConnectPanel> self(this);
    const OnboardingKeyCheck::Result result = co_await OnboardingKeyCheck::current()(provider, key);
    if (!self)
        co_return;
    // An answer to an earlier submit, or for a provider no longer chosen,
    // would show a state the user has moved past.
    if (state_.provider != provider || state_.submitGeneration != generation)
        co_return;
    if (result) {
        setConnection(ConnectionState::failed(result->message));
        showFieldErrorBorder_ = true;
        KitPainting::fadeTo(borderFade_, 1.0);
        flashErrorBorder();
    } else {
        state_.apiKey = key;
        setConnection(ConnectionState::connected());
    }
    sync();
}

QCoro::Task<void> ConnectPanel::adoptSavedKeyIfPresent()
{
    QPointer<ConnectPanel> self(this);
    const ProviderId provider = state_.provider;
    if (provider == ProviderId::mock || state_.connection.kind != ConnectionState::Kind::idle)
        co_return;
    const QString key = co_await readApiKeyDetached(provider);
    if (key.isEmpty() || !self)
        co_return;
    if (state_.provider != provider || state_.connection.kind != ConnectionState::Kind::idle)
        co_return;
    state_.apiKey = key;
    setConnection(ConnectionState::connected());
    sync();
}

void ConnectPanel::setConnection(const ConnectionState& connection)
{
    const bool becameConnected = connection.kind == ConnectionState::Kind::connected
        && state_.connection.kind != ConnectionState::Kind::connected;
    state_.connection = connection;
    if (becameConnected)
        scheduleAdvance();
}

void ConnectPanel::flashErrorBorder()
{
    QPointer<ConnectPanel> self(this);
    QTimer::singleShot(kFlashMs, this, [self] {
        if (!self)
            return;
        self->showFieldErrorBorder_ = false;
        KitPainting::fadeTo(self->borderFade_, 0.0);
    });
}

void ConnectPanel::scheduleAdvance()
{
    // Held by the timer's own context, so the advance still happens when the
    // root view replaced this panel meanwhile; the root ignores a repeat.
    auto advance = onAdvance_;
    QTimer::singleShot(kAdvanceMs, parentWidget() ? parentWidget() : this, [advance] {
        if (advance)
            advance();
    });
}

void ConnectPanel::sync()
{
    const ConnectionState& connection = state_.connection;
    picker_->setCurrentIndex(int(segmentProviders().indexOf(state_.provider)));
    picker_->setEnabled(connection.kind != ConnectionState::Kind::validating);
    if (keyField_->text() != state_.apiKey) {
        QSignalBlocker block(keyField_);
        keyField_->setText(state_.apiKey);
    }
    connectButton_->setEnabled(!state_.apiKey.trimmed().isEmpty());
    switch (connection.kind) {
    case ConnectionState::Kind::idle:
    case ConnectionState::Kind::failed:
        connectArea_->setCurrentIndex(0);
        break;
    case ConnectionState::Kind::validating:
        connectArea_->setCurrentIndex(1);
        break;
    case ConnectionState::Kind::connected:
        connectArea_->setCurrentIndex(2);
        break;
    }
    switch (connection.kind) {
    case ConnectionState::Kind::idle:
        result_->setVisible(false);
        break;
    case ConnectionState::Kind::validating:
        result_->set(InlineStatus::Tone::neutral, QStringLiteral("Checking"));
        result_->setVisible(true);
        break;
    case ConnectionState::Kind::connected:
        result_->set(InlineStatus::Tone::success, QStringLiteral("Connected"));
        result_->setVisible(true);
        break;
    case ConnectionState::Kind::failed:
        result_->set(InlineStatus::Tone::danger, connection.message);
        result_->setVisible(true);
        break;
    }
    // One line high at least, and as high as a wrapped message needs; the
    // column's width is fixed, so the height follows from the text alone.
    result_->setFixedHeight(qMax(kResultHeight, result_->heightForWidth(kColumnWidth)));
    // The row keeps its height when empty, so the layout does not jump.
    QSizePolicy policy = result_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    result_->setSizePolicy(policy);
    signup_->setTitle(linkTitle(state_.provider));
}
