#pragma once

#include "Vellox/settings/ProviderId.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

// The onboarding step.
enum class OnboardingPanel { connect, accessibility, ready };

// The state of the API-key connection the connect panel shows.
struct ConnectionState {
    enum class Kind { idle, validating, connected, failed };

    Kind kind = Kind::idle;
    // The user-visible failure; empty unless failed.
    QString message;

    static ConnectionState idle() { return {}; }
    static ConnectionState validating() { return {Kind::validating, {}}; }
    static ConnectionState connected() { return {Kind::connected, {}}; }
    static ConnectionState failed(QString message) { return {Kind::failed, std::move(message)}; }

    friend bool operator==(const ConnectionState&, const ConnectionState&) = default;
};

// The key check the connect panel runs. The program's validator asks the
// provider, stores the key, makes the provider current and marks onboarding
// completed; tests install a scripted one.
namespace OnboardingKeyCheck {

struct Failure {
    QString message;
};
// None means the key was accepted.
using Result = std::optional<Failure>;
using Validator = std::function<QCoro::Task<Result>(ProviderId provider, QString key)>;

const Validator& current();
// An empty function puts the program's validator back.
void install(Validator validator);

} // namespace OnboardingKeyCheck
