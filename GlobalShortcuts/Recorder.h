#pragma once

#include "GlobalShortcuts/RecorderCocoa.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace GlobalShortcuts {

// The recorder as a form row: the control for a name, with an optional label
// on its left sharing the control's text baseline.
class Recorder : public QWidget {
    Q_OBJECT
public:
    // The control alone.
    explicit Recorder(const Name& name, RecorderCocoa::OnChange onChange = {}, QWidget* parent = nullptr);
    // A label showing the text verbatim.
    Recorder(const QString& label, const Name& name, RecorderCocoa::OnChange onChange = {},
             QWidget* parent = nullptr);
    // A label widget, made once here by the factory.
    Recorder(const Name& name, RecorderCocoa::OnChange onChange, const std::function<QWidget*()>& label,
             QWidget* parent = nullptr);

    // A label looked up by key in the application's translations (context
    // "Recorder"); the key itself when there is no translation.
    static Recorder* withLabelKey(const char* key, const Name& name, RecorderCocoa::OnChange onChange = {},
                                  QWidget* parent = nullptr);

    // Rebuilding with another name renames the one control; a change of the
    // callback is not passed on (the control keeps the first).
    void setName(const Name& name);

    RecorderCocoa* control() const { return control_; }
    QWidget* label() const { return label_; }
    bool hasLabel() const { return label_ != nullptr; }

private:
    void build(QWidget* label);

    RecorderCocoa* control_ = nullptr;
    QWidget* label_ = nullptr;
};

} // namespace GlobalShortcuts
