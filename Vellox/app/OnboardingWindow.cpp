#include "Vellox/app/OnboardingWindow.h"

#include "Vellox/app/OnboardingRootView.h"
#include "Vellox/app/ShellAccessibility.h"
#include "Vellox/app/VelloxTokens.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

OnboardingWindow::OnboardingWindow(QWidget* content)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    ShellAccessibility::install();
    setObjectName(QStringLiteral("OnboardingWindow"));
    setWindowTitle(QString());
    // The window has no title to show; screen readers still need its name.
    setAccessibleName(QStringLiteral("Welcome to Vellox"));
    setFixedSize(OnboardingRootView::kWidth, OnboardingRootView::kHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    // Closing only hides the window; the controller keeps it.
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void OnboardingWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), VelloxTokens::Colors::surface.resolved(this));
}

void OnboardingWindow::mousePressEvent(QMouseEvent* event)
{
    // A press that no control took lands here: drag the window by it.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}
