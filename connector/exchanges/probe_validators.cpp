// OKX, BingX, KuCoin and Bitget: the credential check runs a generated python3 probe script
// that signs and sends read-only requests and prints what the exchange answered.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "connector/exchanges/exchange_registry.h"
#include "connector/exchanges/validation_results.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/endpoints.h"
#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// Names under which a probe finds its credentials. The credentials travel in the child's
// environment rather than in the script text, because the script is a command-line argument
// and any local user can read process arguments while the probes run.
constexpr const char* kKeyVariable = "KORVANE_PROBE_API_KEY";
constexpr const char* kSecretVariable = "KORVANE_PROBE_API_SECRET";
constexpr const char* kPassphraseVariable = "KORVANE_PROBE_PASSPHRASE";

// Sets environment variables for the children started while it lives, then restores them.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::vector<std::pair<const char*, std::string>>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            setenv(name, value.c_str(), 1);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, old] : saved_) {
            if (old) {
                setenv(name, old->c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

std::string py_string_literal(std::string_view value) {
    std::string literal = "'";
    for (char c : value) {
        switch (c) {
            case '\t': literal += "\\t"; break;
            case '\n': literal += "\\n"; break;
            case '\r': literal += "\\r"; break;
            case '\'': literal += "\\'"; break;
            case '\\': literal += "\\\\"; break;
            default: literal += c;
        }
    }
    return literal + "'";
}

// Returns the probe's trimmed output; empty when python3 failed or printed nothing.
std::string run_python(const std::string& script, const StoredCredential& credential) {
    const ScopedEnvironment environment({{kKeyVariable, credential.api_key},
                                         {kSecretVariable, credential.api_secret},
                                         {kPassphraseVariable, credential.passphrase}});
    const CommandOutput run = run_command("python3 -c " + shell_escape(script));
    return run.exit_code == 0 ? trim(run.output) : "";
}

std::string script_head(const char* imports, bool with_passphrase) {
    std::string head = std::string("import ") + imports + "\napi_key = os.environ['" + kKeyVariable +
                       "']\napi_secret = os.environ['" + kSecretVariable + "']";
    if (with_passphrase) head += std::string("\npassphrase = os.environ['") + kPassphraseVariable + "']";
    return head;
}

// GET with a 15-second limit; an HTTP error's own body when it has one, else the error text.
constexpr const char* kFetchFunction = R"(
def fetch(url, headers):
    try:
        request = urllib.request.Request(url, headers=headers, method='GET')
        with urllib.request.urlopen(request, timeout=15) as response:
            return response.read().decode('utf-8', 'replace')
    except Exception as exc:
        text = ''
        try:
            text = exc.read().decode('utf-8', 'replace')
        except Exception:
            text = ''
        return text if text else str(exc)
def sign_b64(message):
    return base64.b64encode(hmac.new(api_secret.encode(), message.encode(), hashlib.sha256).digest()).decode()
results = []
)";

std::string okx_script() {
    return script_head(
               "base64, hashlib, hmac, json, os, urllib.request\nfrom datetime import datetime, timezone",
               true) +
           kFetchFunction + "hosts = [" + py_string_literal(base_url(Site::okx)) + ", " +
           py_string_literal(base_url(Site::okx_eea)) + ", " + py_string_literal(base_url(Site::okx_us)) +
           "]\n" +
           R"(paths = ['/api/v5/account/config', '/api/v5/account/balance?ccy=USDT', '/api/v5/account/balance']
for host in hosts:
    for path in paths:
        now = datetime.now(timezone.utc)
        timestamp = now.strftime('%Y-%m-%dT%H:%M:%S.') + '%03dZ' % (now.microsecond // 1000)
        headers = {
            'OK-ACCESS-KEY': api_key,
            'OK-ACCESS-SIGN': sign_b64(timestamp + 'GET' + path),
            'OK-ACCESS-TIMESTAMP': timestamp,
            'OK-ACCESS-PASSPHRASE': passphrase,
            'Content-Type': 'application/json',
            'User-Agent': 'okx-api-client/1.0',
        }
        results.append({'host': host, 'path': path, 'body': fetch(host + path, headers)})
print(json.dumps(results))
)";
}

std::string bingx_script() {
    return script_head("base64, hashlib, hmac, json, os, time, urllib.request", false) + kFetchFunction +
           "base = " + py_string_literal(base_url(Site::bingx)) + "\n" +
           R"(for path in ['/openApi/swap/v3/user/balance', '/openApi/swap/v2/user/balance']:
    query = 'timestamp=' + str(int(time.time() * 1000))
    signature = hmac.new(api_secret.encode(), query.encode(), hashlib.sha256).hexdigest()
    url = base + path + '?' + query + '&signature=' + signature
    results.append({'path': path, 'body': fetch(url, {'X-BX-APIKEY': api_key})})
print(json.dumps(results))
)";
}

std::string kucoin_script() {
    return script_head("base64, hashlib, hmac, json, os, time, urllib.request", true) + kFetchFunction +
           "base = " + py_string_literal(base_url(Site::kucoin_futures)) + "\n" +
           R"(endpoint = '/api/v1/account-overview?currency=USDT'
for version in ['2', '3']:
    timestamp = str(int(time.time() * 1000))
    headers = {
        'KC-API-KEY': api_key,
        'KC-API-SIGN': sign_b64(timestamp + 'GET' + endpoint),
        'KC-API-TIMESTAMP': timestamp,
        'KC-API-PASSPHRASE': sign_b64(passphrase),
        'KC-API-KEY-VERSION': version,
        'Content-Type': 'application/json',
    }
    results.append({'keyVersion': version, 'body': fetch(base + endpoint, headers)})
print(json.dumps(results))
)";
}

std::string bitget_script() {
    return script_head("base64, hashlib, hmac, json, os, time, urllib.request", true) + kFetchFunction +
           "base = " + py_string_literal(base_url(Site::bitget)) + "\n" +
           R"(timestamp = str(int(time.time() * 1000))
path = '/api/v2/mix/account/accounts'
query = 'productType=USDT-FUTURES'
headers = {
    'ACCESS-KEY': api_key,
    'ACCESS-SIGN': sign_b64(timestamp + 'GET' + path + '?' + query),
    'ACCESS-TIMESTAMP': timestamp,
    'ACCESS-PASSPHRASE': passphrase,
    'Content-Type': 'application/json',
    'locale': 'en-US',
    'X-CHANNEL-API-CODE': 'qwvtz',
}
print(fetch(base + path + '?' + query, headers))
)";
}

struct ProbeSpec {
    std::string name;  // "okx", used in every reason
    bool needs_passphrase;
    std::string failure;  // reason when the probe could not run
    std::vector<std::string_view> markers;
};

ValidateCredentialsResult run_probe(const ValidateCredentialsRequest& request, const ProbeSpec& spec,
                                    const std::string& script) {
    const std::string checked_at = now_iso8601();
    if (spec.needs_passphrase && request.credential.passphrase.empty()) {
        return invalid_result(request, spec.name + " passphrase missing", checked_at);
    }
    const std::string output = run_python(script, request.credential);
    if (output.empty()) return error_result(request, spec.failure, checked_at);
    for (std::string_view marker : spec.markers) {
        if (!contains(output, marker)) continue;
        return success_result(request, true, false, "live " + spec.name + " auth validated", checked_at);
    }
    return invalid_result(request, spec.name + " rejected credentials: " + output, checked_at);
}

}  // namespace

ValidateCredentialsResult ExchangeRegistry::validate_okx(const ValidateCredentialsRequest& request) const {
    return run_probe(request,
                     {"okx",
                      true,
                      "failed to execute okx validation probes",
                      {"\"code\":\"0\"", "\"code\": \"0\"", "\\\"code\\\":\\\"0\\\"", "\"posMode\"",
                       "\"acctLv\"", "\"details\"", "\"availBal\"", "\"availEq\""}},
                     okx_script());
}

ValidateCredentialsResult ExchangeRegistry::validate_bingx(const ValidateCredentialsRequest& request) const {
    return run_probe(request,
                     {"bingx",
                      false,
                      "failed to execute bingx validation probes",
                      {"\"code\":0", "\"code\": 0", "\\\"code\\\":0", "\\\"code\\\": 0", "\"balance\"",
                       "\"equity\"", "availableMargin"}},
                     bingx_script());
}

ValidateCredentialsResult ExchangeRegistry::validate_kucoin(const ValidateCredentialsRequest& request) const {
    return run_probe(
        request,
        {"kucoin",
         true,
         "failed to execute kucoin validation probes",
         {"\"code\":\"200000\"", "\\\"code\\\":\\\"200000\\\"", "\"availableBalance\"", "\"accountEquity\""}},
        kucoin_script());
}

ValidateCredentialsResult ExchangeRegistry::validate_bitget(const ValidateCredentialsRequest& request) const {
    return run_probe(request,
                     {"bitget",
                      true,
                      "failed to execute bitget validation probe",
                      {"\"code\":\"00000\"", "\"available\"", "\"marginCoin\"", "\"accountEquity\""}},
                     bitget_script());
}

}  // namespace korvane::connector
