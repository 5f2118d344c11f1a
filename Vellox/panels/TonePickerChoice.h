#pragma once

#include "Vellox/settings/TonePreset.h"

#include <variant>

// The tone picker's answer: a preset, or the "Describe the edit" row. No
// answer at all (an empty optional where it is returned) means cancelled.
struct TonePickerChoice {
    struct DescribeEdit {
        friend bool operator==(const DescribeEdit&, const DescribeEdit&) = default;
    };

    std::variant<TonePreset, DescribeEdit> value;

    static TonePickerChoice preset(TonePreset preset) { return {std::move(preset)}; }
    static TonePickerChoice describeEdit() { return {DescribeEdit{}}; }

    bool isDescribeEdit() const { return std::holds_alternative<DescribeEdit>(value); }
    // The chosen preset; only valid when !isDescribeEdit().
    const TonePreset& tonePreset() const { return std::get<TonePreset>(value); }

    friend bool operator==(const TonePickerChoice&, const TonePickerChoice&) = default;
};
