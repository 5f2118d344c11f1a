#include "Recorder.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>

namespace GlobalShortcuts {

Recorder::Recorder(const Name& name, RecorderCocoa::OnChange onChange, QWidget* parent)
    : QWidget(parent)
    , control_(new RecorderCocoa(name, std::move(onChange), this))
{
    build(nullptr);
}

Recorder::Recorder(const QString& label, const Name& name, RecorderCocoa::OnChange onChange, QWidget* parent)
    : QWidget(parent)
    , control_(new RecorderCocoa(name, std::move(onChange), this))
{
    build(new QLabel(label, this));
}

Recorder::Recorder(const Name& name, RecorderCocoa::OnChange onChange, const std::function<QWidget*()>& label,
                   QWidget* parent)
    : QWidget(parent)
    , control_(new RecorderCocoa(name, std::move(onChange), this))
{
    build(label ? label() : nullptr);
}

Recorder* Recorder::withLabelKey(const char* key, const Name& name, RecorderCocoa::OnChange onChange,
                                 QWidget* parent)
{
    return new Recorder(QCoreApplication::translate("Recorder", key), name, std::move(onChange), parent);
}

void Recorder::build(QWidget* label)
{
    label_ = label;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (label_) {
        label_->setParent(this);
        if (auto* text = qobject_cast<QLabel*>(label_))
            text->setBuddy(control_);
        layout->addWidget(label_, 0, Qt::AlignBaseline);
    }
    layout->addWidget(control_, 0, Qt::AlignBaseline | Qt::AlignLeft);
    layout->addStretch(1);
}

void Recorder::setName(const Name& name)
{
    control_->setShortcutName(name);
}

} // namespace GlobalShortcuts
