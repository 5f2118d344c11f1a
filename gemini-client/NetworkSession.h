#pragma once

class QNetworkAccessManager;

namespace gemini {

// The calling thread's shared network session, made on first use. It lives
// until the thread ends, or for the application's thread until the
// application is about to quit, so requests from every model on a thread
// share connections.
QNetworkAccessManager* sharedNetworkAccessManager();

// Destroys the calling thread's shared session, if it has one; calls still
// in flight fail. The next call makes a new session. For an orderly end
// while the event loop still runs.
void releaseSharedNetworkAccessManager();

} // namespace gemini
