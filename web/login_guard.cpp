#include "web/login_guard.h"

#include <gnutls/gnutls.h>
#include <gnutls/crypto.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include <sys/random.h>

namespace relay::web {
namespace {

constexpr std::size_t token_bytes = 32;

std::string random_hex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const auto n = ::getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0)
            throw std::runtime_error("no random bytes for a session");
        got += static_cast<std::size_t>(n);
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 0xf];
    }
    return hex;
}

std::array<unsigned char, 32> sha256(const std::string& text)
{
    std::array<unsigned char, 32> digest{};
    gnutls_hash_fast(GNUTLS_DIG_SHA256, text.data(), text.size(), digest.data());
    return digest;
}

}  // namespace

// Both are hashed first, so that the comparison runs over equal lengths
// whatever was typed, and gnutls_memcmp takes the same time wherever they
// differ.
bool same_secret(const std::string& a, const std::string& b)
{
    const auto x = sha256(a);
    const auto y = sha256(b);
    return gnutls_memcmp(x.data(), y.data(), x.size()) == 0;
}

std::string session_book::open(clock_time now)
{
    while (sessions.size() >= max_sessions) {
        const auto oldest = std::min_element(sessions.begin(), sessions.end(),
                                             [](const auto& a, const auto& b) { return a.second < b.second; });
        sessions.erase(oldest);
    }
    auto token = random_hex(token_bytes);
    sessions[token] = now;
    return token;
}

bool session_book::is_valid(const std::string& token, clock_time now)
{
    // Every session is compared, each in constant time, so that the answer
    // takes as long for a token that shares a beginning with a real one.
    std::string found;
    for (const auto& [known, last_use] : sessions)
        if (same_secret(known, token))
            found = known;
    if (found.empty())
        return false;
    auto& last_use = sessions[found];
    if (now - last_use > session_idle_lifetime) {
        sessions.erase(found);
        return false;
    }
    last_use = now;
    return true;
}

void session_book::close(const std::string& token) { sessions.erase(token); }

std::chrono::milliseconds login_throttle::failed(const std::string& address, clock_time now)
{
    if (addresses.find(address) == addresses.end() && addresses.size() >= max_failing_addresses) {
        const auto oldest = std::min_element(addresses.begin(), addresses.end(),
                                             [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
        addresses.erase(oldest);
    }
    auto& r = addresses[address];
    r.failures = std::min(r.failures + 1, 30);
    r.last = now;
    auto delay = first_failure_delay;
    for (int i = 1; i < r.failures && delay < max_failure_delay; ++i)
        delay *= 2;
    delay = std::min(delay, max_failure_delay);
    r.waiting_until = now + delay;
    return delay;
}

void login_throttle::succeeded(const std::string& address) { addresses.erase(address); }

bool login_throttle::is_waiting(const std::string& address, clock_time now) const
{
    const auto it = addresses.find(address);
    return it != addresses.end() && now < it->second.waiting_until;
}

int login_throttle::failures(const std::string& address) const
{
    const auto it = addresses.find(address);
    return it == addresses.end() ? 0 : it->second.failures;
}

}  // namespace relay::web
