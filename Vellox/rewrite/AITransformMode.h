#pragma once

#include "Vellox/settings/TonePreset.h"

#include <QString>

#include <variant>

// What a provider is asked to do: rewrite in a tone, or apply an instruction
// the user typed.
struct AITransformMode {
    struct Command {
        QString instruction;
        friend bool operator==(const Command&, const Command&) = default;
    };

    std::variant<TonePreset, Command> value;

    static AITransformMode tonePreset(TonePreset preset) { return {std::move(preset)}; }
    static AITransformMode command(QString instruction) { return {Command{std::move(instruction)}}; }

    bool isCommand() const { return std::holds_alternative<Command>(value); }
    // Only valid for the matching kind.
    const TonePreset& preset() const { return std::get<TonePreset>(value); }
    const QString& instruction() const { return std::get<Command>(value).instruction; }

    friend bool operator==(const AITransformMode&, const AITransformMode&) = default;
};
