#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The `secret-tool` command against the session's Secret Service, for keyring
// tests that make or inspect items the way a user would.
namespace secret_tool {

// Runs secret-tool with `input` on its standard input; its output, or nothing
// when it failed.
std::optional<QByteArray> run(const QStringList& arguments, const QByteArray& input = {});

// How many items carry service and account; -1 when the search failed.
int itemCount(const QString& service, const QString& account);

} // namespace secret_tool
