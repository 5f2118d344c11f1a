#pragma once

#include "Vellox/panels/TonePickerChoice.h"
#include "Vellox/rewrite/RewriteFeedbackMessage.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <optional>

// What the rewrite roads ask of the floating surfaces and of the windows
// around them. The engine reaches every panel through this one object, so
// it runs with the real panels in the program and with a scripted set in
// tests. All calls are made on the GUI thread.
class RewriteSurfaces {
public:
    virtual ~RewriteSurfaces() = default;

    // Shows the tone picker next to the selection and waits for the user.
    // An empty answer means cancelled.
    virtual QCoro::Task<std::optional<TonePickerChoice>> askTone(QList<TonePreset> presets,
                                                                  bool includeDescribeEdit) = 0;
    // Shows the instruction panel and waits for the typed instruction. An
    // empty answer means cancelled.
    virtual QCoro::Task<std::optional<QString>> askInstruction() = 0;

    // The busy chip next to the selection. Showing twice keeps one chip.
    virtual void showSpinner() = 0;
    // Hides the chip when it is showing and marks the spinner surface
    // hidden; does nothing otherwise.
    virtual void hideSpinner() = 0;

    // A transient notice that replaces any notice already shown.
    virtual void presentNotice(const RewriteFeedbackMessage& message, double dismissAfterSeconds) = 0;

    virtual void closeSettingsWindowIfOpen() = 0;
    virtual void closeMenuPopoverIfOpen() = 0;

    // The surfaces in use. Until the program installs its panels this is a
    // set that shows nothing and answers every question with "cancelled".
    static RewriteSurfaces& current();
    // Installs `surfaces` (not owned); nullptr returns to the silent set.
    static void install(RewriteSurfaces* surfaces);
};
