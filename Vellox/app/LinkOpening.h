#pragma once

#include <QString>
#include <QUrl>

// Opens a link or a file with the desktop's opener. When the desktop cannot
// (no xdg-open, no handler), a small window says so and shows the link or
// the file's path, selectable, so the user can open it by hand.
namespace LinkOpening {

void open(const QUrl& url);

// The text that window shows for `url`.
QString failureText(const QUrl& url);

} // namespace LinkOpening
