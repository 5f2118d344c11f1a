#pragma once

#include "Vellox/panels/TonePickerChoice.h"

#include <QString>

// One row of the tone picker: a preset, or the "Describe the edit" row. It
// stands for the choice of the same case.
struct PickerRow {
    TonePickerChoice choice;

    static PickerRow preset(TonePreset preset) { return {TonePickerChoice::preset(std::move(preset))}; }
    static PickerRow describeEdit() { return {TonePickerChoice::describeEdit()}; }

    bool isDescribeEdit() const { return choice.isDescribeEdit(); }

    // The row's identity in the list: "row-describe-edit", or the preset's id
    // in upper-case canonical form.
    QString id() const
    {
        return isDescribeEdit() ? QStringLiteral("row-describe-edit") : TonePreset::idText(choice.tonePreset().id);
    }

    friend bool operator==(const PickerRow&, const PickerRow&) = default;
};
