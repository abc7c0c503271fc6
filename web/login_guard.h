#pragma once
// Who may use the web page: the sessions opened by a correct password, and
// the slowing down of wrong ones. Pure and clocked from outside, so every
// step is tested tick by tick; the server asks it and waits on its loop's
// timers, never in a sleep.

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace relay::web {

using clock_time = std::chrono::steady_clock::time_point;

// How long a session lasts without being used, and how many may be open at
// once (the oldest goes first).
constexpr std::chrono::hours session_idle_lifetime{12};
constexpr std::size_t max_sessions = 64;
// The answer to a wrong password waits this long, doubled for each further
// wrong one from the same address, up to the cap.
constexpr std::chrono::milliseconds first_failure_delay{1000};
constexpr std::chrono::milliseconds max_failure_delay{16000};
// Addresses remembered for their failures; the one failed longest ago goes
// first.
constexpr std::size_t max_failing_addresses = 256;

// True when both are equal, in a time that depends on their lengths only.
bool same_secret(const std::string& a, const std::string& b);

class session_book {
public:
    // A new session's token: 32 random bytes as hex.
    std::string open(clock_time now);
    // Known and used within its lifetime; using it keeps it alive.
    bool is_valid(const std::string& token, clock_time now);
    void close(const std::string& token);
    std::size_t size() const { return sessions.size(); }

private:
    // token -> last use
    std::map<std::string, clock_time> sessions;
};

class login_throttle {
public:
    // A wrong password from address: how long its answer waits.
    std::chrono::milliseconds failed(const std::string& address, clock_time now);
    // A correct one: the address starts afresh.
    void succeeded(const std::string& address);
    // An answer to this address is still waiting: a further try is refused
    // unread, so that tries in parallel gain nothing.
    bool is_waiting(const std::string& address, clock_time now) const;
    int failures(const std::string& address) const;

private:
    struct record {
        int failures = 0;
        clock_time last{};
        clock_time waiting_until{};
    };
    std::map<std::string, record> addresses;
};

}  // namespace relay::web
