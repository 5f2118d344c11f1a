#include "Vellox/app/UsageCountFormat.h"

#include <cmath>

namespace UsageCountFormat {

QString format(qint64 count, const QLocale& locale)
{
    if (count < kCompactThreshold) {
        QLocale grouped = locale;
        grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
        return grouped.toString(count);
    }
    struct Unit {
        double size;
        const char* suffix;
    };
    static constexpr Unit units[] = {{1e3, "K"}, {1e6, "M"}, {1e9, "B"}, {1e12, "T"}};
    const double value = double(count);
    for (size_t i = 0; i < std::size(units); ++i) {
        // Round to one fraction digit first: 999,960 is "1M", not "1000K".
        const double scaled = std::round(value / units[i].size * 10) / 10;
        if (scaled < 1000 || i + 1 == std::size(units)) {
            const bool whole = scaled == std::floor(scaled);
            return locale.toString(scaled, 'f', whole ? 0 : 1) + QLatin1String(units[i].suffix);
        }
    }
    return locale.toString(count);
}

} // namespace UsageCountFormat
