#pragma once

class QNetworkAccessManager;

namespace gemini {

// The calling thread's shared network session, made on first use. It lives
// until the thread ends (for the main thread, until the application object
// is destroyed), so requests from every model on a thread share connections.
QNetworkAccessManager* sharedNetworkAccessManager();

} // namespace gemini
