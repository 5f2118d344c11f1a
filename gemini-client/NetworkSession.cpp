#include "NetworkSession.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QThread>
#include <QThreadStorage>

namespace gemini {

namespace {
QThreadStorage<QNetworkAccessManager*>& sessions()
{
    static QThreadStorage<QNetworkAccessManager*> storage;
    return storage;
}
} // namespace

QNetworkAccessManager* sharedNetworkAccessManager()
{
    if (!sessions().hasLocalData() || !sessions().localData()) {
        auto* session = new QNetworkAccessManager();
        sessions().setLocalData(session);
        // Qt's network thread must wind down while the event loop still
        // runs; at process exit its last objects would be left behind.
        if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() == QThread::currentThread())
            QObject::connect(app, &QCoreApplication::aboutToQuit, session, [] { releaseSharedNetworkAccessManager(); });
    }
    return sessions().localData();
}

void releaseSharedNetworkAccessManager()
{
    if (sessions().hasLocalData())
        sessions().setLocalData(nullptr);
}

} // namespace gemini
