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
    // A service that does not run now (another session's, a stopped daemon) cannot confirm.
    if (!running()) return false;
    if (calls_->clear(service, account) == Answer::failed) return false;
    // A locked item is not cleared, and a lookup of it reads as "not found" once its unlock
    // prompt is dismissed; only a search that also lists locked items proves it gone.
    return calls_->find(service, account) == Answer::not_found;
}

}  // namespace korvane::connector
