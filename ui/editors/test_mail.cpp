#include "ui/editors/test_mail.h"

#include <unistd.h>

#include <mutex>
#include <thread>

namespace qv {
namespace {

// The test mail's own reports go nowhere: "maildebug" is off for it, and its outcome is shown in
// the dialog.
class SilentSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view) override {}
};

std::string ThisComputer() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return "this computer";
  return host;
}

}  // namespace

struct CTestMail::State {
  std::mutex mutex;
  bool running = false;
  std::optional<Outcome> outcome;
};

CTestMail::CTestMail(CMailSender::Options options) : options_(std::move(options)), state_(std::make_shared<State>()) {}

CTestMail::CTestMail() : CTestMail(CMailSender::Options{}) {}

CTestMail::~CTestMail() = default;

bool CTestMail::Start(const MailSettings& settings, const std::string& recipient) {
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->running) return false;
    state_->running = true;
    state_->outcome.reset();
  }
  const std::string to = recipient.empty() ? MailSenderAddress(settings.from, settings.domain) : recipient;
  std::thread([state = state_, settings, to, options = options_] {
    SilentSink sink;
    CMailSender sender(sink, options);
    const bool sent = sender.SendMail(settings, to, "", "Quorvel test mail",
                                      "This test mail was sent from the Email Settings of Quorvel on " +
                                          ThisComputer() + ".",
                                      false);
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->outcome = Outcome{sent, TestMailOutcomeText(sent, to, sender.failure(), sender.lastReply())};
    state->running = false;
  }).detach();
  return true;
}

bool CTestMail::running() const {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->running;
}

std::optional<CTestMail::Outcome> CTestMail::Take() {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  std::optional<Outcome> outcome = std::move(state_->outcome);
  state_->outcome.reset();
  return outcome;
}

std::string TestMailOutcomeText(bool sent, const std::string& recipient, const std::string& failure,
                                const std::string& lastReply) {
  if (sent) return "Test mail sent to " + recipient + ". The server said: " + lastReply;
  std::string text = "Test mail to " + recipient + " not sent: " + failure + ".";
  if (!lastReply.empty() && failure.find(lastReply) == std::string::npos) {
    text += " The server's last reply: " + lastReply;
  }
  return text;
}

}  // namespace qv
