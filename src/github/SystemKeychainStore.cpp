#include "github/SystemKeychainStore.hpp"

#include <libsecret/secret.h>

#include <memory>

namespace pelko {
namespace {

// Matched on attributes alone, so items written under another schema name still count.
const SecretSchema& itemSchema() {
    static const SecretSchema schema = {
        "app.pelko.GenericPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    };
    return schema;
}

struct HashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableDeleter>;

Attributes attributesFor(const std::string& service, const std::string& account) {
    Attributes table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(service.c_str()));
    g_hash_table_insert(table.get(), g_strdup("account"), g_strdup(account.c_str()));
    return table;
}

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, ObjectDeleter>;

// The shared connection; nothing when no Secret Service answers on the session bus.
Owned<SecretService> connect() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    g_clear_error(&error);
    return Owned<SecretService>(service);
}

}  // namespace

std::optional<std::string> SystemKeychainStore::load(const std::string& service,
                                                     const std::string& account) const {
    auto connection = connect();
    if (!connection) return std::nullopt;
    auto attributes = attributesFor(service, account);
    GError* error = nullptr;
    // No SECRET_SEARCH_UNLOCK: a locked item is returned without its secret instead of prompting.
    GList* items = secret_service_search_sync(
        connection.get(), &itemSchema(), attributes.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS), nullptr, &error);
    g_clear_error(&error);
    std::optional<std::string> result;
    for (GList* node = items; node && !result; node = node->next) {
        auto* item = SECRET_ITEM(node->data);
        if (secret_item_get_locked(item)) continue;
        SecretValue* value = secret_item_get_secret(item);
        if (!value) continue;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        result = std::string(bytes, length);
        secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    return result;
}

bool SystemKeychainStore::save(const std::string& data, const std::string& service,
                               const std::string& account) {
    auto connection = connect();
    if (!connection) return false;
    GError* error = nullptr;
    // Creating or unlocking a collection would prompt; without an unlocked default one, fail instead.
    Owned<SecretCollection> collection(secret_collection_for_alias_sync(
        connection.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error));
    g_clear_error(&error);
    if (!collection || secret_collection_get_locked(collection.get())) return false;

    auto attributes = attributesFor(service, account);
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/json");
    // Storing under matching attributes replaces the existing item's data.
    gboolean stored =
        secret_service_store_sync(connection.get(), &itemSchema(), attributes.get(),
                                  SECRET_COLLECTION_DEFAULT, service.c_str(), value, nullptr, &error);
    secret_value_unref(value);
    g_clear_error(&error);
    return stored;
}

void SystemKeychainStore::remove(const std::string& service, const std::string& account) {
    auto connection = connect();
    if (!connection) return;
    auto attributes = attributesFor(service, account);
    GError* error = nullptr;
    secret_service_clear_sync(connection.get(), &itemSchema(), attributes.get(), nullptr, &error);
    g_clear_error(&error);
}

}  // namespace pelko
