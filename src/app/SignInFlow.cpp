#include "app/SignInFlow.h"

#include "app/Application.h"
#include "common/Log.h"
#include "common/Text.h"

namespace brindle {

void SignInOutcome::settle(Result result) {
    std::lock_guard lock(lock_);
    if (!result_) result_ = std::move(result);
}

std::optional<SignInOutcome::Result> SignInOutcome::result() {
    std::lock_guard lock(lock_);
    return result_;
}

void SignInOutcome::cancel() {
    std::lock_guard lock(lock_);
    cancelled_ = true;
}

bool SignInOutcome::cancelled() {
    std::lock_guard lock(lock_);
    return cancelled_;
}

// One window: its code, attempt, outcome, the poller's progress and the
// alert and timer that show it.
struct SignInFlow::Window {
    Brindle::DeviceCode code;
    int attempt = 1;
    std::shared_ptr<SignInOutcome> outcome = std::make_shared<SignInOutcome>();
    long long interval = 1;
    long long elapsed = 0;
    std::optional<Desktop::AlertId> alert;
    std::optional<MainLoop::TimerId> timer;
    bool finished = false;
};

SignInFlow::SignInFlow(Application& app, MainLoop& loop, Desktop& desktop)
    : app_(app), loop_(loop), desktop_(desktop) {}

SignInFlow::~SignInFlow() = default;

void SignInFlow::requestCode(int attempt) {
    std::weak_ptr<SignInFlow> weak = weak_from_this();
    std::string device = app_.engine().config().deviceName;
    app_.inBackground([weak, device, attempt]() -> std::function<void(Application&)> {
        try {
            Brindle::DeviceCode code = Brindle::requestCode(device);
            return [weak, code, attempt](Application&) {
                if (auto self = weak.lock()) self->showCode(code, attempt);
            };
        } catch (const std::exception& failure) {
            std::string text = failure.what();
            return [weak, text](Application&) {
                if (auto self = weak.lock()) self->failed("Couldn't start the sign-in", text);
            };
        }
    });
}

void SignInFlow::failed(const std::string& message, const std::string& informative) {
    app_.signingIn_ = false;
    desktop_.activate();
    app_.alert(message, informative);
}

void SignInFlow::showCode(const Brindle::DeviceCode& code, int attempt) {
    // Only a web page may be opened from what the service sends.
    if (!Text::startsWith(code.completeURL, "https://") && !Text::startsWith(code.completeURL, "http://")) {
        failed("Couldn't start the sign-in",
               "The sign-in page the service sent is not a web address: " + code.completeURL);
        return;
    }
    desktop_.activate();
    desktop_.openURL(code.completeURL);
    auto window = std::make_shared<Window>();
    window->code = code;
    window->attempt = attempt;
    window->interval = std::max<long long>(code.interval, 1);
    pollStep(window);
    std::weak_ptr<SignInFlow> weak = weak_from_this();
    window->timer = loop_.every(kCheckPeriod, [weak, window] {
        auto self = weak.lock();
        if (!self || !window->outcome->result() || window->finished) return;
        Log::write("Sign-in window: closing it");
        self->closeWindow(window);
        self->finish(window);
    });
    runWindow(window);
}

Alert SignInFlow::windowAlert(const std::string& userCode) {
    const std::string host = Application::host();
    Alert alert;
    alert.message = "Sign in to Brindle";
    alert.informative = "Your browser is open to " + host + ". Check that the code matches, then approve it:\n\n" +
                        userCode + "\n\nThis window closes by itself when you approve.";
    alert.buttons = {"Open " + host + " Again", "Cancel"};
    return alert;
}

void SignInFlow::runWindow(const std::shared_ptr<Window>& window) {
    if (window->outcome->result()) return finish(window);
    Alert alert = windowAlert(window->code.userCode);
    std::weak_ptr<SignInFlow> weak = weak_from_this();
    window->alert = desktop_.showAlert(alert, [weak, window](const AlertAnswer& answer) {
        auto self = weak.lock();
        if (!self || window->finished) return;
        window->alert.reset();
        if (window->outcome->result()) return self->finish(window);
        if (answer.button != 0) {
            window->outcome->cancel();
            window->finished = true;
            self->app_.signingIn_ = false;
            self->closeWindow(window);
            return;
        }
        self->desktop_.openURL(window->code.completeURL);
        self->runWindow(window);
    });
}

void SignInFlow::closeWindow(const std::shared_ptr<Window>& window) {
    if (window->alert) desktop_.closeAlert(*window->alert);
    window->alert.reset();
    if (window->timer) loop_.cancel(*window->timer);
    window->timer.reset();
}

void SignInFlow::finish(const std::shared_ptr<Window>& window) {
    if (window->finished) return;
    window->finished = true;
    closeWindow(window);
    SignInOutcome::Result result = *window->outcome->result();
    const std::string host = Application::host();
    switch (result.kind) {
        case SignInOutcome::Kind::approved:
            Brindle::storeAccount(result.account);
            app_.signingIn_ = false;
            Log::write("Signed in to Brindle");
            app_.finishSignIn(result.account);
            break;
        case SignInOutcome::Kind::denied:
            failed("Sign-in denied", "The sign-in was denied on " + host + ".");
            break;
        case SignInOutcome::Kind::expired:
            if (window->attempt >= kAttempts) {
                app_.signingIn_ = false;
                app_.alert("Sign-in timed out", "Choose Sign In to Brindle\u2026 to try again.");
            } else {
                requestCode(window->attempt + 1);
            }
            break;
    }
}

// One turn of the poller, on the main loop: stop when decided or cancelled,
// give up when the code's lifetime is used up, else wait and poll.
void SignInFlow::pollStep(const std::shared_ptr<Window>& window) {
    SignInOutcome& outcome = *window->outcome;
    if (outcome.result()) return;
    if (outcome.cancelled() || window->elapsed >= window->code.expiresIn) {
        outcome.settle({SignInOutcome::Kind::expired, {}});
        return;
    }
    std::weak_ptr<SignInFlow> weak = weak_from_this();
    loop_.after(static_cast<double>(window->interval), [weak, window] {
        window->elapsed += window->interval;
        if (window->outcome->cancelled()) return;
        if (auto self = weak.lock()) self->pollNow(window);
    });
}

void SignInFlow::pollNow(const std::shared_ptr<Window>& window) {
    std::weak_ptr<SignInFlow> weak = weak_from_this();
    app_.inBackground([weak, window]() -> std::function<void(Application&)> {
        using Poll = Brindle::PollResult::Kind;
        SignInOutcome& outcome = *window->outcome;
        try {
            Brindle::PollResult answer = Brindle::poll(window->code);
            if (answer.kind == Poll::slowDown) window->interval += 5;
            if (answer.kind == Poll::denied) outcome.settle({SignInOutcome::Kind::denied, {}});
            if (answer.kind == Poll::expired) outcome.settle({SignInOutcome::Kind::expired, {}});
            if (answer.kind == Poll::approved) {
                Log::write("Sign-in approved");
                outcome.settle({SignInOutcome::Kind::approved, {Brindle::serverURL(), answer.deviceToken}});
            }
        } catch (const std::exception&) {
            // A failed poll is tried again after the next interval.
        }
        return [weak, window](Application&) {
            if (auto self = weak.lock()) self->pollStep(window);
        };
    });
}

}  // namespace brindle
