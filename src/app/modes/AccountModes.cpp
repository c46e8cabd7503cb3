#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "app/Modes.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "service/BrindleSignIn.h"

namespace brindle::Modes {

namespace {

// BRINDLE_LOGIN_PAUSE_SCALE multiplies the pauses between polls (0 polls
// without pausing), so scripted checks of the sign-in need not wait for
// real seconds. Unset or unreadable: real time.
double pauseScale() {
    std::optional<std::string> value = Files::env("BRINDLE_LOGIN_PAUSE_SCALE");
    if (!value) return 1.0;
    char* end = nullptr;
    double scale = std::strtod(value->c_str(), &end);
    return (end != value->c_str() && *end == '\0' && scale >= 0) ? scale : 1.0;
}

bool pause(long long seconds, double scale) {
    std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(seconds) * scale));
    return true;
}

}  // namespace

int brindleStatus(const Args&) {
    std::cout << (Brindle::account() ? "SIGNED_IN" : "SIGNED_OUT") << "\n";
    return 0;
}

int brindleLogout(const Args&) {
    if (std::optional<Brindle::Account> account = Brindle::account()) Brindle::revoke(*account);
    Brindle::forgetAccount();
    std::cout << "SIGNED_OUT\n";
    return 0;
}

int brindleLogin(const Args& args) {
    Brindle::DeviceCode code = Brindle::requestCode(args.at(2));
    // The caller shows the code while we wait, so it must leave at once.
    std::cout << "CODE " << Text::printable(code.userCode) << std::endl;
    std::cerr << "Approve this device at " << Text::printable(code.completeURL) << std::endl;
    const double scale = pauseScale();
    Brindle::SignInOutcome outcome =
        Brindle::waitForApproval(code, [scale](long long seconds) { return pause(seconds, scale); });
    using Kind = Brindle::SignInOutcome::Kind;
    switch (outcome.kind) {
        case Kind::denied:
            std::cout << "DENIED\n";
            return 1;
        case Kind::expired:
            std::cout << "EXPIRED\n";
            return 1;
        case Kind::timedOut:
        case Kind::cancelled:
            std::cout << "TIMED_OUT\n";
            return 1;
        case Kind::signedIn:
            break;
    }
    Brindle::Account account{Brindle::serverURL(), outcome.deviceToken};
    try {
        Brindle::storeAccount(account);
    } catch (const Error&) {
        // The next process would be signed out: the token must not stay live.
        Brindle::revoke(account);
        Brindle::forgetAccount();
        throw;
    }
    std::cout << "SIGNED_IN" << std::endl;
    std::optional<std::string> repo = Brindle::connectedRepo(account);
    std::cout << "REPO " << Text::printable(repo.value_or("none")) << "\n";
    return 0;
}

}  // namespace brindle::Modes
