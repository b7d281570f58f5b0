#include "service/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

namespace {

volatile sig_atomic_t g_writeFd = -1;

void OnTerminationSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  (void)!write(g_writeFd, &number, 1);
  errno = savedErrno;
}

}  // namespace

CTerminationSignals::CTerminationSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeFd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGTERM, &action, &previousTerm_) != 0) return;
  if (sigaction(SIGINT, &action, &previousInt_) != 0) {
    sigaction(SIGTERM, &previousTerm_, nullptr);
    return;
  }
  installed_ = true;
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
}

CTerminationSignals::~CTerminationSignals() {
  if (installed_) {
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGINT, &previousInt_, nullptr);
  }
  notifier_.reset();
  g_writeFd = -1;
  if (pipe_[0] >= 0) close(pipe_[0]);
  if (pipe_[1] >= 0) close(pipe_[1]);
}

void CTerminationSignals::Drain() {
  unsigned char numbers[16];
  ssize_t got;
  while ((got = read(pipe_[0], numbers, sizeof numbers)) > 0) {
    for (ssize_t i = 0; i < got; ++i) onSignal_(numbers[i]);
  }
}

}  // namespace qv
