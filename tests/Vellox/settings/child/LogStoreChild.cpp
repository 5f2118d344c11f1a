// A process that records lines in the rewrite log and returns from main at
// once, with the lines still queued. Its log file comes from the environment.
//
//   vellox_log_store_child <count>

#include "Vellox/settings/VelloxLogStore.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    const int count = args[1].toInt();
    for (int i = 0; i < count; ++i) {
        VelloxLogStore::record({.level = VelloxLogStore::Level::error,
                                .code = QStringLiteral("line_%1").arg(i),
                                .msg = QStringLiteral("queued before exit")});
    }
    return 0;
}
