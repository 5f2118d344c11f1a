#include "NetworkSession.h"

#include <QNetworkAccessManager>
#include <QThreadStorage>

namespace gemini {

QNetworkAccessManager* sharedNetworkAccessManager()
{
    static QThreadStorage<QNetworkAccessManager*> sessions;
    if (!sessions.hasLocalData())
        sessions.setLocalData(new QNetworkAccessManager());
    return sessions.localData();
}

} // namespace gemini
