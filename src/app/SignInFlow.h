#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "app/Desktop.h"
#include "common/MainLoop.h"
#include "service/BrindleSignIn.h"

namespace brindle {

class Application;

// The outcome of one sign-in window, shared by the window, its 0.3-second
// timer and the poller. The first result written wins.
struct SignInOutcome {
    enum class Kind { approved, denied, expired };
    struct Result {
        Kind kind = Kind::expired;
        Brindle::Account account;  // approved only
    };

    // Sets the result unless one is there already.
    void settle(Result result);
    std::optional<Result> result();
    void cancel();
    bool cancelled();

private:
    std::mutex lock_;  // guards result_ and cancelled_
    std::optional<Result> result_;
    bool cancelled_ = false;
};

// The device-code sign-in shown as one window: the browser opens on the
// approval page, the window shows the code and closes by itself when the
// service answers; expired codes are replaced up to three times. The poller
// waits on the main loop's timers and polls on a background thread; it never
// touches the window. Main loop only; callbacks hold the flow weakly.
class SignInFlow : public std::enable_shared_from_this<SignInFlow> {
public:
    SignInFlow(Application& app, MainLoop& loop, Desktop& desktop);
    ~SignInFlow();

    // Requests a code (attempt counts from 1) and shows the window.
    void requestCode(int attempt);

    // The window showing userCode.
    static Alert windowAlert(const std::string& userCode);

    // How often the window looks at the outcome.
    static constexpr double kCheckPeriod = 0.3;
    static constexpr int kAttempts = 3;

private:
    struct Window;

    void showCode(const Brindle::DeviceCode& code, int attempt);
    void runWindow(const std::shared_ptr<Window>& window);
    void closeWindow(const std::shared_ptr<Window>& window);
    void finish(const std::shared_ptr<Window>& window);
    void pollStep(const std::shared_ptr<Window>& window);
    void pollNow(const std::shared_ptr<Window>& window);
    void failed(const std::string& message, const std::string& informative);

    Application& app_;
    MainLoop& loop_;
    Desktop& desktop_;
};

}  // namespace brindle
