#include "connector/state/secret_service_store.h"

namespace korvane::connector {

using Answer = SecretServiceCalls::Answer;

bool SecretServiceStore::running() const {
    if (!running_) running_ = calls_->service_running();
    return *running_;
}

std::string SecretServiceStore::backend_name() const {
    return running() ? "secret_service_with_file_fallback" : "file_only";
}

bool SecretServiceStore::store(const std::string& service, const std::string& account,
                               const std::string& secret) {
    // The service takes a C string: a record with a zero byte in it would come back cut short.
    if (!running() || secret.find('\0') != std::string::npos) return false;
    if (calls_->store(service, account, "Korvane Connector: " + account, secret) != Answer::done)
        return false;
    // A save is trusted only once the record reads back whole: the vault then drops its file,
    // and a record the service mangled (or a write it lost) would lose the credential.
    std::string stored;
    if (calls_->lookup(service, account, stored) == Answer::done && stored == secret) return true;
    calls_->clear(service, account);
    return false;
}

std::optional<std::string> SecretServiceStore::fetch(const std::string& service, const std::string& account) {
    std::string secret;
    if (!running() || calls_->lookup(service, account, secret) != Answer::done) return std::nullopt;
    return secret;
}

bool SecretServiceStore::remove(const std::string& service, const std::string& account) {
    // Without a service there is no store that could hold the item.
    if (!running()) return true;
    if (calls_->clear(service, account) == Answer::failed) return false;
    // A locked item is not cleared; only a lookup that finds nothing proves the item gone.
    std::string left;
    return calls_->lookup(service, account, left) == Answer::not_found;
}

}  // namespace korvane::connector
