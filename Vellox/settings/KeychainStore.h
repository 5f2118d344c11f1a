#pragma once

#include "Vellox/settings/ProviderId.h"
#include "platform/CredentialStore.h"

#include <QString>

// The user's API keys, one per provider, in the platform's credential store
// and nowhere else. A missing key reads as "", and "" means no key everywhere.
// Stored keys never carry surrounding white space or any control character.
// Every call blocks for the store and may run on any thread. Reads never fail
// visibly; a save tells its caller whether the key was kept, so onboarding and
// key validation can say so. The mock provider has no key and never touches
// the store.
class KeychainStore {
public:
    KeychainStore() = delete;

    static constexpr const char* kService = "Vellox";

    // The item's account: the provider's stored value + "-api-key".
    static QString account(ProviderId provider);

    enum class SaveResult {
        Stored,  // the key is stored ("api_key_added" announced)
        Removed, // blank text: the provider has no key now
        RefusedControlCharacter, // nothing changed; the previous key stays
        Failed,  // the store refused or is absent; the previous key stays
        NoKeyNeeded, // the mock provider: nothing to keep
    };

    static QString getApiKey(ProviderId provider);
    // Trims the text. Blank text removes the key. Text that still holds a
    // control character (CR, LF, NUL, ...) is refused and the stored key stays.
    // Otherwise the key replaces the stored one in place, so a failed store
    // keeps the previous key; success announces "api_key_added".
    static SaveResult setApiKey(const QString& key, ProviderId provider);
    static void deleteApiKey(ProviderId provider);

    // Whether `text` holds a control character (CR, LF, NUL, DEL, ...) anywhere,
    // the test setApiKey() refuses a trimmed key by; callers can warn the user
    // before a key is dropped.
    static bool containsControlCharacter(const QString& text);

private:
    struct CopyResult {
        QString value;
        platform::CredentialStore::Status status;
    };
    static CopyResult copyMatching(ProviderId provider, bool skipAuthenticationUI);
};
