#pragma once
// The Email Settings dialog's "Send Test Mail": one mail with the dialog's values (not yet
// stored), sent on a thread of its own so that the window never waits for the server. The dialog
// asks Take() on a timer until the outcome is there.
//
// The object may go (the dialog closed) while its mail is on its way: the thread then keeps
// what it needs, ends by the mail's deadline and drops its outcome. One mail at a time per
// object; used from one thread.

#include <memory>
#include <optional>
#include <string>

#include "rules/mail/mail_sender.h"

namespace qv {

class CTestMail {
 public:
  struct Outcome {
    bool sent = false;
    std::string text;  // what the dialog shows: the result and the server's last reply
  };

  // `options`: the client's waits and trust store (tests name a CA of their own).
  explicit CTestMail(CMailSender::Options options);
  CTestMail();
  ~CTestMail();
  CTestMail(const CTestMail&) = delete;
  CTestMail& operator=(const CTestMail&) = delete;

  // Starts sending to `recipient`, or to the sender address when it is empty. False while an
  // earlier mail is still on its way.
  bool Start(const MailSettings& settings, const std::string& recipient);
  bool running() const;
  // The outcome of the mail started last, once it is done (given once); nullopt before.
  std::optional<Outcome> Take();

 private:
  struct State;
  CMailSender::Options options_;
  std::shared_ptr<State> state_;
};

// The dialog's text for a mail to `recipient` that was sent or failed with `failure`, with the
// server's last reply when it is not part of the failure already.
std::string TestMailOutcomeText(bool sent, const std::string& recipient, const std::string& failure,
                                const std::string& lastReply);

}  // namespace qv
