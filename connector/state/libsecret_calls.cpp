// The Secret Service through libsecret, loaded with dlopen on first use: a run that never
// touches the store (most runs) pays nothing for glib, and a machine without the library works
// on the vault's files alone.
#include <dlfcn.h>
#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "connector/state/secret_service_store.h"
#include "connector/state/session_bus_address.h"

namespace korvane::connector {
namespace {

using Answer = SecretServiceCalls::Answer;

// How long the bus may take to say whether the service runs, and one call to the service may
// take (a stalled or prompting service must not hold a command forever).
constexpr std::chrono::milliseconds kProbeTimeout{3000};
constexpr std::chrono::milliseconds kCallTimeout{8000};

// The library's entry points, typed by its own declarations.
struct Libsecret {
    decltype(&::secret_password_storev_sync) storev_sync = nullptr;
    decltype(&::secret_password_lookupv_sync) lookupv_sync = nullptr;
    decltype(&::secret_password_clearv_sync) clearv_sync = nullptr;
    decltype(&::secret_password_free) password_free = nullptr;
    decltype(&::secret_service_search_sync) search_sync = nullptr;
    decltype(&::g_list_free_full) list_free_full = nullptr;
    decltype(&::g_hash_table_new) hash_table_new = nullptr;
    decltype(&::g_hash_table_insert) hash_table_insert = nullptr;
    decltype(&::g_hash_table_unref) hash_table_unref = nullptr;
    decltype(&::g_str_hash) str_hash = nullptr;
    decltype(&::g_str_equal) str_equal = nullptr;
    decltype(&::g_cancellable_new) cancellable_new = nullptr;
    decltype(&::g_cancellable_cancel) cancellable_cancel = nullptr;
    decltype(&::g_object_unref) object_unref = nullptr;
    decltype(&::g_error_free) error_free = nullptr;
    decltype(&::g_free) free = nullptr;
    decltype(&::g_dbus_address_escape_value) address_escape_value = nullptr;
    decltype(&::g_dbus_connection_new_for_address_sync) connection_new_for_address_sync = nullptr;
    decltype(&::g_dbus_connection_call_sync) connection_call_sync = nullptr;
    decltype(&::g_dbus_connection_close_sync) connection_close_sync = nullptr;
    decltype(&::g_variant_new_string) variant_new_string = nullptr;
    decltype(&::g_variant_new_tuple) variant_new_tuple = nullptr;
    decltype(&::g_variant_get_type_string) variant_get_type_string = nullptr;
    decltype(&::g_variant_get_child_value) variant_get_child_value = nullptr;
    decltype(&::g_variant_get_boolean) variant_get_boolean = nullptr;
    decltype(&::g_variant_unref) variant_unref = nullptr;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Returns the loaded library; null when it or one of its entry points is missing. glib's and
// GIO's own functions (D-Bus included) are found through libsecret, which depends on them.
const Libsecret* libsecret() {
    static const Libsecret* const loaded = []() -> const Libsecret* {
        void* library = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return nullptr;
        static Libsecret table;
        const bool complete = resolve(library, "secret_password_storev_sync", table.storev_sync) &&
                              resolve(library, "secret_password_lookupv_sync", table.lookupv_sync) &&
                              resolve(library, "secret_password_clearv_sync", table.clearv_sync) &&
                              resolve(library, "secret_password_free", table.password_free) &&
                              resolve(library, "secret_service_search_sync", table.search_sync) &&
                              resolve(library, "g_list_free_full", table.list_free_full) &&
                              resolve(library, "g_hash_table_new", table.hash_table_new) &&
                              resolve(library, "g_hash_table_insert", table.hash_table_insert) &&
                              resolve(library, "g_hash_table_unref", table.hash_table_unref) &&
                              resolve(library, "g_str_hash", table.str_hash) &&
                              resolve(library, "g_str_equal", table.str_equal) &&
                              resolve(library, "g_cancellable_new", table.cancellable_new) &&
                              resolve(library, "g_cancellable_cancel", table.cancellable_cancel) &&
                              resolve(library, "g_object_unref", table.object_unref) &&
                              resolve(library, "g_error_free", table.error_free) &&
                              resolve(library, "g_free", table.free) &&
                              resolve(library, "g_dbus_address_escape_value", table.address_escape_value) &&
                              resolve(library, "g_dbus_connection_new_for_address_sync",
                                      table.connection_new_for_address_sync) &&
                              resolve(library, "g_dbus_connection_call_sync", table.connection_call_sync) &&
                              resolve(library, "g_dbus_connection_close_sync", table.connection_close_sync) &&
                              resolve(library, "g_variant_new_string", table.variant_new_string) &&
                              resolve(library, "g_variant_new_tuple", table.variant_new_tuple) &&
                              resolve(library, "g_variant_get_type_string", table.variant_get_type_string) &&
                              resolve(library, "g_variant_get_child_value", table.variant_get_child_value) &&
                              resolve(library, "g_variant_get_boolean", table.variant_get_boolean) &&
                              resolve(library, "g_variant_unref", table.variant_unref);
        return complete ? &table : nullptr;
    }();
    return loaded;
}

// Items are found by their two attributes alone, whoever wrote them (secret-tool writes the
// same two), so no schema name is stored or matched.
const SecretSchema* item_schema() {
    static const SecretSchema schema = [] {
        SecretSchema value{};
        value.name = "korvane.connector.Credential";
        value.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        value.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return value;
    }();
    return &schema;
}

// Cancels a call that is still running when its time is up; the call then returns at once
// with a "cancelled" error.
class CancelAtDeadline {
  public:
    CancelAtDeadline(const Libsecret& library, GCancellable* cancellable, std::chrono::milliseconds timeout)
        : watchdog_([this, &library, cancellable, timeout] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!finished_.wait_for(lock, timeout, [this] { return done_; })) {
                  library.cancellable_cancel(cancellable);
              }
          }) {}
    ~CancelAtDeadline() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        watchdog_.join();
    }
    CancelAtDeadline(const CancelAtDeadline&) = delete;
    CancelAtDeadline& operator=(const CancelAtDeadline&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread watchdog_;  // last: it starts once the members it uses exist
};

// Runs `call(library, attributes, cancellable, error)` for the item service/account within the
// time limit and returns what it came to; failed when the library is missing.
template <typename Call>
Answer call_for_item(const std::string& service, const std::string& account, Call call) {
    const Libsecret* library = libsecret();
    if (library == nullptr) return Answer::failed;
    GHashTable* attributes = library->hash_table_new(library->str_hash, library->str_equal);
    library->hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    library->hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    GCancellable* cancellable = library->cancellable_new();
    GError* error = nullptr;
    Answer answer = Answer::failed;
    {
        const CancelAtDeadline limit(*library, cancellable, kCallTimeout);
        answer = call(*library, attributes, cancellable, &error);
    }
    if (error != nullptr) {
        // The message may name the item but never holds its secret; it is not shown either way,
        // as the vault's fallback is silent by design.
        library->error_free(error);
        answer = Answer::failed;
    }
    library->object_unref(cancellable);
    library->hash_table_unref(attributes);
    return answer;
}

// Returns true when the bus at `address` says `name` has an owner. NameHasOwner starts no
// service; connecting to an address starts no bus. Connection and question together get
// kProbeTimeout; the first entry of `address` that accepts a connection answers.
bool name_has_owner(const Libsecret& library, const std::string& address, const char* name) {
    GCancellable* cancellable = library.cancellable_new();
    GError* error = nullptr;
    bool owned = false;
    {
        const CancelAtDeadline limit(library, cancellable, kProbeTimeout);
        GDBusConnection* bus = library.connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable, &error);
        if (bus != nullptr) {
            GVariant* argument = library.variant_new_string(name);
            GVariant* reply = library.connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                library.variant_new_tuple(&argument, 1), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                static_cast<gint>(kProbeTimeout.count()), cancellable, &error);
            if (reply != nullptr) {
                if (std::strcmp(library.variant_get_type_string(reply), "(b)") == 0) {
                    GVariant* answer = library.variant_get_child_value(reply, 0);
                    owned = library.variant_get_boolean(answer) != FALSE;
                    library.variant_unref(answer);
                }
                library.variant_unref(reply);
            }
            library.connection_close_sync(bus, nullptr, nullptr);
            library.object_unref(bus);
        }
    }
    if (error != nullptr) library.error_free(error);
    library.object_unref(cancellable);
    return owned;
}

class LibsecretCalls : public SecretServiceCalls {
  public:
    bool service_running() override {
        const SessionBusPlace place =
            session_bus_place(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
        // Without a bus there is nothing to ask, and no reason to load the library.
        if (place.address.empty() && place.socket_path.empty()) return false;
        const Libsecret* library = libsecret();
        if (library == nullptr) return false;
        std::string address = place.address;
        if (address.empty()) {
            gchar* escaped = library->address_escape_value(place.socket_path.c_str());
            address = std::string("unix:path=") + escaped;
            library->free(escaped);
        }
        if (!name_has_owner(*library, address, "org.freedesktop.secrets")) return false;
        // libsecret then connects to exactly this bus; without an address glib could launch a
        // bus of its own.
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        return true;
    }

    Answer store(const std::string& service, const std::string& account, const std::string& label,
                 const std::string& secret) override {
        return call_for_item(
            service, account,
            [&](const Libsecret& library, GHashTable* attributes, GCancellable* cancellable, GError** error) {
                // A null collection is the default one (the login keyring).
                return library.storev_sync(item_schema(), attributes, nullptr, label.c_str(), secret.c_str(),
                                           cancellable, error)
                           ? Answer::done
                           : Answer::failed;
            });
    }

    Answer lookup(const std::string& service, const std::string& account, std::string& secret) override {
        return call_for_item(
            service, account,
            [&](const Libsecret& library, GHashTable* attributes, GCancellable* cancellable, GError** error) {
                gchar* found = library.lookupv_sync(item_schema(), attributes, cancellable, error);
                if (found == nullptr) return Answer::not_found;
                secret = found;
                library.password_free(found);  // wipes the library's copy
                return Answer::done;
            });
    }

    Answer clear(const std::string& service, const std::string& account) override {
        return call_for_item(
            service, account,
            [&](const Libsecret& library, GHashTable* attributes, GCancellable* cancellable, GError** error) {
                return library.clearv_sync(item_schema(), attributes, cancellable, error) ? Answer::done
                                                                                          : Answer::not_found;
            });
    }

    Answer find(const std::string& service, const std::string& account) override {
        return call_for_item(
            service, account,
            [&](const Libsecret& library, GHashTable* attributes, GCancellable* cancellable, GError** error) {
                // Every match, locked ones included, without unlocking (so without a prompt).
                GList* items = library.search_sync(nullptr, item_schema(), attributes, SECRET_SEARCH_ALL,
                                                   cancellable, error);
                const Answer answer = items != nullptr ? Answer::done : Answer::not_found;
                library.list_free_full(items, library.object_unref);
                return answer;
            });
    }
};

}  // namespace

std::unique_ptr<SecretServiceCalls> libsecret_calls() {
    return std::make_unique<LibsecretCalls>();
}

}  // namespace korvane::connector
