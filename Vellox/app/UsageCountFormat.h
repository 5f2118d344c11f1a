#pragma once

#include <QLocale>
#include <QString>

// Today's rewrite count as the popover shows it: grouped below 10,000
// ("9,999"), compact from there on ("10K", "12.3K", "1.5M").
namespace UsageCountFormat {

inline constexpr qint64 kCompactThreshold = 10'000;

QString format(qint64 count, const QLocale& locale = QLocale::system());

} // namespace UsageCountFormat
