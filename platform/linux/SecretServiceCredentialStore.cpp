#include "SecretServiceCredentialStore.h"

// Qt's `signals` keyword macro collides with a field name in GLib's headers.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <algorithm>
#include <memory>

namespace platform::linuxbackend {

namespace {

constexpr const char* kSecretsBusName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr const char* kSecretsInterface = "org.freedesktop.Secret.Service";
constexpr const char* kTextContentType = "text/plain";

// Matching ignores the schema name, so items made by other tools with the same
// two attributes are ours too.
const SecretSchema* credentialSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = SecretServiceCredentialStore::kSchemaName;
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder()
    {
        if (error)
            g_error_free(error);
    }
    GError** out() { return &error; }
    QString message() const { return error ? QString::fromUtf8(error->message) : QString(); }
};

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ServicePtr = std::unique_ptr<SecretService, ObjectDeleter>;

struct ItemList {
    GList* items = nullptr;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
};

struct ValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueDeleter>;

// Owns the UTF-8 bytes the attribute table points into.
class Attributes {
public:
    Attributes(const QString& service, const QString& account)
        : service_(service.toUtf8())
        , account_(account.toUtf8())
        , table_(g_hash_table_new(g_str_hash, g_str_equal))
    {
        g_hash_table_insert(table_, const_cast<char*>("service"), service_.data());
        g_hash_table_insert(table_, const_cast<char*>("account"), account_.data());
    }
    ~Attributes() { g_hash_table_unref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    GHashTable* table() const { return table_; }

private:
    QByteArray service_;
    QByteArray account_;
    GHashTable* table_;
};

ServicePtr connectToService()
{
    ErrorHolder error;
    return ServicePtr(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, error.out()));
}

// Every item with these two attributes, in any collection, locked or not.
bool searchItems(SecretService* service, const Attributes& attributes, int extraFlags, ItemList& out)
{
    ErrorHolder error;
    const auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | extraFlags);
    out.items = secret_service_search_sync(service, credentialSchema(), attributes.table(), flags, nullptr,
                                           error.out());
    return error.error == nullptr;
}

// The item reads and writes go to: unlocked before locked, then the most
// recently modified.
SecretItem* preferredItem(GList* items)
{
    SecretItem* best = nullptr;
    for (GList* node = items; node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (!best) {
            best = item;
            continue;
        }
        const bool itemLocked = secret_item_get_locked(item);
        const bool bestLocked = secret_item_get_locked(best);
        if (itemLocked != bestLocked) {
            if (!itemLocked)
                best = item;
            continue;
        }
        if (secret_item_get_modified(item) > secret_item_get_modified(best))
            best = item;
    }
    return best;
}

QString labelFor(const QString& service, const QString& account)
{
    return QStringLiteral("%1 (%2)").arg(service, account);
}

} // namespace

bool SecretServiceCredentialStore::isServiceAvailable(QString* reason, int timeoutMs)
{
    auto fail = [reason](const ErrorHolder& error) {
        if (reason)
            *reason = error.message();
        return false;
    };

    ErrorHolder error;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, error.out());
    if (!address)
        return fail(error);
    // A private connection: the shared one would remember the first bus it
    // found for the rest of the process.
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                          | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, error.out());
    g_free(address);
    if (!connection)
        return fail(error);

    // Reading a property of the service both starts an activatable keyring and
    // proves that what answers really speaks the Secret Service interface.
    GVariant* reply = g_dbus_connection_call_sync(
        connection, kSecretsBusName, kSecretsPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kSecretsInterface, "Collections"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        timeoutMs, nullptr, error.out());
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    if (!reply)
        return fail(error);
    g_variant_unref(reply);
    return true;
}

CredentialStore::ReadResult SecretServiceCredentialStore::read(const QString& service, const QString& account,
                                                               bool allowInteraction)
{
    QMutexLocker lock(&mutex_);
    const ServicePtr secrets = connectToService();
    if (!secrets)
        return {Status::Failed, {}};

    const Attributes attributes(service, account);
    ItemList found;
    const int flags = SECRET_SEARCH_LOAD_SECRETS | (allowInteraction ? SECRET_SEARCH_UNLOCK : 0);
    if (!searchItems(secrets.get(), attributes, flags, found))
        return {Status::Failed, {}};

    SecretItem* item = preferredItem(found.items);
    if (!item)
        return {Status::NotFound, {}};
    // A locked item would need the user to unlock its collection first.
    if (secret_item_get_locked(item))
        return {Status::Failed, {}};
    const ValuePtr value(secret_item_get_secret(item));
    if (!value)
        return {Status::Failed, {}};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return {Status::Success, QByteArray(bytes, static_cast<qsizetype>(length))};
}

CredentialStore::Status SecretServiceCredentialStore::store(const QString& service, const QString& account,
                                                            const QByteArray& secret)
{
    QMutexLocker lock(&mutex_);
    const ServicePtr secrets = connectToService();
    if (!secrets)
        return Status::Failed;

    const Attributes attributes(service, account);
    ItemList found;
    if (!searchItems(secrets.get(), attributes, SECRET_SEARCH_UNLOCK, found))
        return Status::Failed;

    const ValuePtr value(secret_value_new(secret.constData(), secret.size(), kTextContentType));
    SecretItem* target = preferredItem(found.items);
    if (!target) {
        ErrorHolder error;
        const QByteArray label = labelFor(service, account).toUtf8();
        const bool stored = secret_service_store_sync(secrets.get(), credentialSchema(), attributes.table(),
                                                      SECRET_COLLECTION_DEFAULT, label.constData(), value.get(),
                                                      nullptr, error.out());
        return stored ? Status::Success : Status::Failed;
    }

    // The secret changes inside the existing item, so a failure leaves the
    // previous secret where it was; never delete first and add afterwards.
    ErrorHolder error;
    if (!secret_item_set_secret_sync(target, value.get(), nullptr, error.out()))
        return Status::Failed;
    for (GList* node = found.items; node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (item != target)
            secret_item_delete_sync(item, nullptr, nullptr);
    }
    return Status::Success;
}

CredentialStore::Status SecretServiceCredentialStore::storeWithoutInteraction(const QString& service,
                                                                              const QString& account,
                                                                              const QByteArray& secret)
{
    QMutexLocker lock(&mutex_);
    const ServicePtr secrets = connectToService();
    if (!secrets)
        return Status::Failed;

    const Attributes attributes(service, account);
    ItemList found;
    if (!searchItems(secrets.get(), attributes, 0, found))
        return Status::Failed;
    const ValuePtr value(secret_value_new(secret.constData(), secret.size(), kTextContentType));
    if (SecretItem* target = preferredItem(found.items)) {
        if (secret_item_get_locked(target))
            return Status::Failed;
        ErrorHolder error;
        return secret_item_set_secret_sync(target, value.get(), nullptr, error.out()) ? Status::Success
                                                                                       : Status::Failed;
    }
    // A new item goes to the default collection, which must be open already.
    ErrorHolder error;
    SecretCollection* collection = secret_collection_for_alias_sync(secrets.get(), SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, error.out());
    if (!collection)
        return Status::Failed;
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    if (locked)
        return Status::Failed;
    const QByteArray label = labelFor(service, account).toUtf8();
    const bool stored = secret_service_store_sync(secrets.get(), credentialSchema(), attributes.table(),
                                                  SECRET_COLLECTION_DEFAULT, label.constData(), value.get(), nullptr,
                                                  error.out());
    return stored ? Status::Success : Status::Failed;
}

CredentialStore::Status SecretServiceCredentialStore::remove(const QString& service, const QString& account)
{
    QMutexLocker lock(&mutex_);
    const ServicePtr secrets = connectToService();
    if (!secrets)
        return Status::Failed;

    const Attributes attributes(service, account);
    ItemList found;
    if (!searchItems(secrets.get(), attributes, SECRET_SEARCH_NONE, found))
        return Status::Failed;
    bool removedAll = true;
    for (GList* node = found.items; node; node = node->next) {
        ErrorHolder error;
        if (!secret_item_delete_sync(static_cast<SecretItem*>(node->data), nullptr, error.out()))
            removedAll = false;
    }
    return removedAll ? Status::Success : Status::Failed;
}

} // namespace platform::linuxbackend
