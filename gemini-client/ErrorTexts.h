#pragma once

// Every fixed description of the library's errors, in one place.
namespace gemini::texts {

inline constexpr const char* notAnHttpResponse = "Response was not an HTTP response.";
inline constexpr const char* notUtf8 = "Could not parse response as UTF8.";
inline constexpr const char* noCandidates = "No candidates with content available.";
inline constexpr const char* invalidUrl = "The request URL is not valid: %1";
inline constexpr const char* unsafeApiKey = "The API key contains characters that cannot be sent in a request header.";
inline constexpr const char* sessionGone = "The network session was closed before the request finished.";
inline constexpr const char* timedOut = "The request timed out.";
inline constexpr const char* connectionLost = "The network connection was lost.";
inline constexpr const char* unknownError = "Unknown error.";

inline constexpr const char* invalidJson = "The given data was not valid JSON.";
inline constexpr const char* invalidBase64 = "Encountered Data is not valid Base64.";
inline constexpr const char* noPartKey = "No text, inline data or function call was found.";
inline constexpr const char* missingResponseKeys =
    "Failed to decode GenerateContentResponse; missing keys 'candidates' and 'promptFeedback'.";
inline constexpr const char* invalidJsonValue = "Failed to decode JSON value.";
inline constexpr const char* nestedTooDeep = "The value nests deeper than %1 levels.";
inline constexpr const char* nonFiniteNumber = "Unable to encode %1 in JSON: it has no JSON form.";

inline constexpr const char* promptImageContent = "An image in the prompt could not be converted: %1";
inline constexpr const char* internalError = "The request to the model failed: %1";
inline constexpr const char* promptBlocked = "The prompt was blocked (%1).";
inline constexpr const char* responseStoppedEarly = "The response stopped early (%1).";
inline constexpr const char* invalidApiKey = "The API key is not valid: %1";
inline constexpr const char* unsupportedUserLocation = "User location is not supported for the API use.";
inline constexpr const char* countTokensFailed = "Counting tokens failed: %1";

inline constexpr const char* imageNotJpeg = "The image could not be encoded as JPEG (%1).";
inline constexpr const char* imageInvalid = "The image holds no bitmap.";
inline constexpr const char* imageNoEncoder = "No JPEG encoder is available.";

inline constexpr const char* candidateEmpty = "A candidate's content was empty: %1";
inline constexpr const char* candidateMalformed = "A candidate's content was malformed: %1";

} // namespace gemini::texts
