#include "LocalizedError.h"

#include "gemini-client/Error.h"

QString localizedDescription(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const LocalizedError& e) {
        return e.errorDescription();
    } catch (const gemini::Error& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}
