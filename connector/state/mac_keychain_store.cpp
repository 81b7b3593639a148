#include "connector/state/mac_keychain_store.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace korvane::connector {
namespace {

constexpr std::chrono::milliseconds kCallTimeout{8000};

// Owns one Core Foundation object (a "Create" or "Copy" result) and releases it.
template <typename Ref>
class Owned {
  public:
    explicit Owned(Ref object) : object_(object) {}
    ~Owned() {
        if (object_ != nullptr) CFRelease(object_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Ref get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    Ref object_;
};

// Returns `text` as a CFString; null when it is not UTF-8.
CFStringRef string_ref(const std::string& text) {
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

CFMutableDictionaryRef new_dictionary() {
    return CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

// Returns a query naming the generic password item service/account; null when a name is not
// UTF-8 (no keychain item can carry it).
CFMutableDictionaryRef item_query(const std::string& service, const std::string& account) {
    const Owned<CFStringRef> service_name(string_ref(service));
    const Owned<CFStringRef> account_name(string_ref(account));
    if (!service_name || !account_name) return nullptr;
    CFMutableDictionaryRef query = new_dictionary();
    if (query == nullptr) return nullptr;
    CFDictionarySetValue(query, kSecClass, kSecClassGenericPassword);
    CFDictionarySetValue(query, kSecAttrService, service_name.get());
    CFDictionarySetValue(query, kSecAttrAccount, account_name.get());
    return query;
}

bool store_item(const std::string& service, const std::string& account, const std::string& secret) {
    const Owned<CFMutableDictionaryRef> query(item_query(service, account));
    const Owned<CFDataRef> data(CFDataCreate(kCFAllocatorDefault,
                                             reinterpret_cast<const UInt8*>(secret.data()),
                                             static_cast<CFIndex>(secret.size())));
    const Owned<CFMutableDictionaryRef> change(new_dictionary());
    if (!query || !data || !change) return false;
    // Like `security add-generic-password -U`: update the item when it exists, else add it.
    CFDictionarySetValue(change.get(), kSecValueData, data.get());
    OSStatus status = SecItemUpdate(query.get(), change.get());
    if (status == errSecItemNotFound) {
        CFDictionarySetValue(query.get(), kSecValueData, data.get());
        status = SecItemAdd(query.get(), nullptr);
    }
    return status == errSecSuccess;
}

std::optional<std::string> fetch_item(const std::string& service, const std::string& account) {
    const Owned<CFMutableDictionaryRef> query(item_query(service, account));
    if (!query) return std::nullopt;
    CFDictionarySetValue(query.get(), kSecReturnData, kCFBooleanTrue);
    CFDictionarySetValue(query.get(), kSecMatchLimit, kSecMatchLimitOne);
    CFTypeRef result = nullptr;
    const OSStatus status = SecItemCopyMatching(query.get(), &result);
    const Owned<CFTypeRef> owned(result);
    if (status != errSecSuccess || result == nullptr || CFGetTypeID(result) != CFDataGetTypeID())
        return std::nullopt;
    const auto data = static_cast<CFDataRef>(result);
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

bool remove_item(const std::string& service, const std::string& account) {
    const Owned<CFMutableDictionaryRef> query(item_query(service, account));
    if (!query) return true;
    const OSStatus status = SecItemDelete(query.get());
    if (status != errSecSuccess && status != errSecItemNotFound) return false;
    // Ask again: an item the keychain kept (a second copy, a refusal) must not count as gone.
    return !fetch_item(service, account).has_value();
}

// Runs `call` on a thread of its own and returns its result, or nothing when it has not
// returned within the time limit. The Security framework offers no way to cancel a call that
// waits on the user; such a thread is left behind and ends with the process.
template <typename Result>
std::optional<Result> within_time_limit(std::function<Result()> call) {
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> result = promise->get_future();
    std::thread([promise, call = std::move(call)] { promise->set_value(call()); }).detach();
    if (result.wait_for(kCallTimeout) != std::future_status::ready) return std::nullopt;
    return result.get();
}

}  // namespace

// Each call copies its strings into the worker, which may outlive the call.
bool MacKeychainStore::store(const std::string& service, const std::string& account,
                             const std::string& secret) {
    return within_time_limit<bool>(
               [service, account, secret] { return store_item(service, account, secret); })
        .value_or(false);
}

std::optional<std::string> MacKeychainStore::fetch(const std::string& service, const std::string& account) {
    return within_time_limit<std::optional<std::string>>(
               [service, account] { return fetch_item(service, account); })
        .value_or(std::nullopt);
}

bool MacKeychainStore::remove(const std::string& service, const std::string& account) {
    return within_time_limit<bool>([service, account] { return remove_item(service, account); })
        .value_or(false);
}

}  // namespace korvane::connector
