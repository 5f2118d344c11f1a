#include "Vellox/settings/AIModelValidator.h"

#include <QRegularExpression>

namespace AIModelValidator {

namespace {
const char* const kEmptyWarning = "Model name cannot be empty.";
const char* const kDateSnapshotWarning =
    "Model name ends with a date snapshot suffix (e.g. -20241022). Prefer the stable alias if one exists.";
const char* const kPreviewWarning = "Model name contains '-preview' — this version may be discontinued without notice.";
const char* const kPreviewMarker = "-preview";
} // namespace

std::optional<QString> warning(const QString& modelName)
{
    const QString name = modelName.trimmed();
    if (name.isEmpty())
        return QString::fromUtf8(kEmptyWarning);

    // Unicode digits count, as they do in the platform's own regular expressions.
    static const QRegularExpression dateSuffix(QStringLiteral("-\\d{8}$"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    if (dateSuffix.match(name).hasMatch())
        return QString::fromUtf8(kDateSnapshotWarning);

    if (name.contains(QLatin1String(kPreviewMarker), Qt::CaseInsensitive))
        return QString::fromUtf8(kPreviewWarning);

    return std::nullopt;
}

} // namespace AIModelValidator
