#pragma once

#include <functional>
#include <string>

#include "service/Brindle.h"

// The device-code sign-in to the Brindle service: ask for a code, let the
// user approve it in a browser, poll until a device token arrives. Also the
// revocation of a device token at sign-out. All calls block on the network;
// never call them on the main loop.
namespace brindle::Brindle {

struct DeviceCode {
    std::string deviceCode;       // sent back when polling
    std::string userCode;         // shown to the user
    std::string verificationURL;  // the approval page
    std::string completeURL;      // the approval page with the code filled in
    long long expiresIn = 600;    // seconds the code lives
    long long interval = 5;       // seconds between polls
};

struct PollResult {
    enum class Kind { approved, pending, slowDown, denied, expired };
    Kind kind = Kind::pending;
    std::string deviceToken;  // only for approved
};

// Asks the default server (serverURL()) for a sign-in code for a device of
// this name. Throws Failure "Brindle couldn't start the sign-in (HTTP N)."
// when the answer is not a usable code, or HTTP::TransportError.
DeviceCode requestCode(const std::string& deviceName);

// Asks once whether the code was approved. Throws Failure "Brindle sign-in
// failed (X)." for an answer that is none of the known outcomes (X is the
// service's error code, else "HTTP N"), or HTTP::TransportError.
PollResult poll(const DeviceCode& code);

// Tells the account's server to forget the device token. Never throws; the
// answer and transport errors are ignored.
void revoke(const Account& account);

// How a wait for approval ended.
struct SignInOutcome {
    enum class Kind { signedIn, denied, expired, timedOut, cancelled };
    Kind kind = Kind::timedOut;
    std::string deviceToken;  // only for signedIn
};

// Pauses for the given number of seconds; returns false to give up waiting
// (the outcome is then cancelled).
using Sleeper = std::function<bool(long long seconds)>;
using Poller = std::function<PollResult(const DeviceCode&)>;

// The waiting loop shared by the command line and the sign-in window:
// interval = the code's interval, at least 1; while less than the code's
// lifetime has elapsed, sleep interval seconds, count them, poll. Pending
// goes on; slow-down adds 5 seconds to the interval; denied, expired and
// approved end the wait; a used-up lifetime is timedOut. A failing poll
// propagates unless ignorePollFailures is set, in which case the next
// interval is waited for as after a pending answer. Nothing is stored here.
SignInOutcome waitForApproval(const DeviceCode& code, const Sleeper& sleep, const Poller& poller = poll,
                              bool ignorePollFailures = false);

}  // namespace brindle::Brindle
