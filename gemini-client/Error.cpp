#include "Error.h"

#include "gemini-client/ErrorTexts.h"
#include "gemini-client/GeminiClientInfo.h"

namespace gemini {

const char* Error::what() const noexcept
{
    if (what_.empty())
        what_ = description().toStdString();
    return what_.c_str();
}

QString LibraryError::domain()
{
    return QString::fromLatin1(GeminiClientInfo::identifier);
}

ErrorPtr currentError()
{
    try {
        throw;
    } catch (const Error& error) {
        return error.clone();
    } catch (const std::exception& error) {
        return std::make_shared<ForeignError>(QString::fromUtf8(error.what()));
    } catch (...) {
        return std::make_shared<ForeignError>(QString::fromUtf8(texts::unknownError));
    }
}

} // namespace gemini
