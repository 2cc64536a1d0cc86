#include "github/SystemKeychainStore.hpp"

#include <libsecret/secret.h>

#include <memory>
#include <string_view>

#include "platform/ProcessEnd.hpp"
#include "platform/SerialQueue.hpp"

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

// Whether a call may no longer reach the Secret Service: once the end of the process has begun, only
// an errand's may, within its grace.
bool endRefuses() {
    using std::chrono::milliseconds;
    return ProcessEnd::hasBegun() &&
           !(ProcessEnd::onErrand() && ProcessEnd::errandTimeLeft() > milliseconds(0));
}

// A cancellable that cancels itself once the bound has passed, or when the end of the process
// begins (for an errand's call, once the errands' grace has passed), so that no call outlives its
// bound and the end waits for none but an errand's, that long at most.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds bound)
        : cancellable_(g_cancellable_new(), g_object_unref),
          end_([cancellable = cancellable_, errand = ProcessEnd::onErrand()] {
              if (!errand) {
                  g_cancellable_cancel(cancellable.get());
                  return;
              }
              // Holds the cancellable until it fires, however soon the call ends.
              (void)timerQueue().asyncAfter(ProcessEnd::errandTimeLeft(),
                                            [cancellable] { g_cancellable_cancel(cancellable.get()); });
          }) {
        timer_ = timerQueue().asyncAfter(
            bound, [cancellable = cancellable_] { g_cancellable_cancel(cancellable.get()); });
    }
    ~Deadline() { timer_.cancel(); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return cancellable_.get(); }

  private:
    static SerialQueue& timerQueue() {
        static SerialQueue queue("app.pelko.keychain.deadline");
        return queue;
    }

    std::shared_ptr<GCancellable> cancellable_;
    ProcessEnd::Watch end_;
    WorkItem timer_;
};

// The shared connection; nothing when no Secret Service answers on the session bus in time.
Owned<SecretService> connect(const Deadline& deadline) {
    GError* error = nullptr;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(), &error);
    g_clear_error(&error);
    return Owned<SecretService>(service);
}

// Deletes the item at `path` unless the Secret Service wants to ask the user first: a prompt is
// dismissed and counts as a failure.
bool deleteItem(SecretService* service, const char* path, const Deadline& deadline) {
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    GDBusConnection* connection = g_dbus_proxy_get_connection(proxy);
    const char* busName = g_dbus_proxy_get_name(proxy);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, busName, path, "org.freedesktop.Secret.Item", "Delete", nullptr, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, deadline.cancellable(), &error);
    g_clear_error(&error);
    if (!reply) return false;
    const char* prompt = nullptr;
    g_variant_get(reply, "(&o)", &prompt);
    bool deleted = std::string_view(prompt) == "/";
    if (!deleted) {
        g_dbus_connection_call(connection, busName, prompt, "org.freedesktop.Secret.Prompt", "Dismiss",
                               nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr,
                               nullptr);
    }
    g_variant_unref(reply);
    return deleted;
}

}  // namespace

SystemKeychainStore::SystemKeychainStore(std::chrono::milliseconds timeout) : timeout_(timeout) {}

std::optional<std::string> SystemKeychainStore::load(const std::string& service,
                                                     const std::string& account) const {
    if (endRefuses()) return std::nullopt;
    Deadline deadline(timeout_);
    auto connection = connect(deadline);
    if (!connection) return std::nullopt;
    auto attributes = attributesFor(service, account);
    GError* error = nullptr;
    // No SECRET_SEARCH_UNLOCK: a locked item is returned without its secret instead of prompting.
    GList* items = secret_service_search_sync(
        connection.get(), &itemSchema(), attributes.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        deadline.cancellable(), &error);
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
    if (endRefuses()) return false;
    Deadline deadline(timeout_);
    auto connection = connect(deadline);
    if (!connection) return false;
    GError* error = nullptr;
    // Creating or unlocking a collection would prompt; without an unlocked default one, fail instead.
    Owned<SecretCollection> collection(secret_collection_for_alias_sync(
        connection.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, deadline.cancellable(), &error));
    g_clear_error(&error);
    if (!collection || secret_collection_get_locked(collection.get())) return false;

    auto attributes = attributesFor(service, account);
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/json");
    // Storing under matching attributes replaces the existing item's data.
    gboolean stored = secret_service_store_sync(connection.get(), &itemSchema(), attributes.get(),
                                                SECRET_COLLECTION_DEFAULT, service.c_str(), value,
                                                deadline.cancellable(), &error);
    secret_value_unref(value);
    g_clear_error(&error);
    return stored;
}

bool SystemKeychainStore::remove(const std::string& service, const std::string& account) {
    if (endRefuses()) return false;
    Deadline deadline(timeout_);
    auto connection = connect(deadline);
    if (!connection) return false;
    auto attributes = attributesFor(service, account);
    GError* error = nullptr;
    // Locked items are found too: one left behind would be back, still signed in, once unlocked.
    GList* items = secret_service_search_sync(connection.get(), &itemSchema(), attributes.get(),
                                              SECRET_SEARCH_ALL, deadline.cancellable(), &error);
    bool removed = !error;
    g_clear_error(&error);
    for (GList* node = items; removed && node; node = node->next)
        removed =
            deleteItem(connection.get(), g_dbus_proxy_get_object_path(G_DBUS_PROXY(node->data)), deadline);
    g_list_free_full(items, g_object_unref);
    return removed;
}

}  // namespace pelko
