#include "ui/qt/termination.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cstdlib>

#include "core/services.h"
#include "ui/qt/main_dialog.h"

namespace kestrune::qt {
namespace {

constexpr int kWindowLostStatus = 1;

sigset_t termination_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
  return set;
}

// The dialog an exit() from inside a library (Qt's X11 plugin on a lost
// display) must stop first. Exit handlers get no context that outlives
// main(), so this one pointer is process-wide.
std::atomic<MainDialog*>& dialog_to_stop_at_exit() {
  static std::atomic<MainDialog*> dialog{nullptr};
  return dialog;
}

// Runs before the libraries' own exit-time destructors, which would free
// what the worker and coder threads are still using.
void stop_conversions_at_exit(int, void*) {
  if (MainDialog* dialog = dialog_to_stop_at_exit().exchange(nullptr)) dialog->stop_conversions();
}

// Registered after the crypto libraries have registered theirs, so it runs
// before them.
void register_exit_hook() {
  load_crypto_libraries();
  on_exit(&stop_conversions_at_exit, nullptr);
}

}  // namespace

Termination::Termination() {
  const sigset_t signals = termination_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal_fd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

Termination::~Termination() {
  dialog_to_stop_at_exit() = nullptr;
  if (signal_fd_ >= 0) close(signal_fd_);
}

void Termination::watch(MainDialog& dialog) {
  const sigset_t signals = termination_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  dialog_ = &dialog;
  exit_status_ = 0;
  dialog_to_stop_at_exit() = &dialog;
  if (!exit_hook_registered_) {
    register_exit_hook();
    QCoreApplication::instance()->installNativeEventFilter(this);
    exit_hook_registered_ = true;
  }
  if (notifier_ == nullptr && signal_fd_ >= 0) {
    notifier_ = new QSocketNotifier(signal_fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Termination::end_on_signal);
  }
}

// A second signal, while the conversion is being abandoned, ends the process
// at once: the signals are unblocked again once the first has been read.
void Termination::end_on_signal() {
  signalfd_siginfo info{};
  if (read(signal_fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
  const sigset_t signals = termination_signals();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  if (!dialog_) return;
  exit_status_ = 128 + static_cast<int>(info.ssi_signo);
  dialog_->reject();
}

// Some tools and crashing window managers destroy a window without asking
// it to close; Qt then keeps running without it.
bool Termination::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
  if (type != "xcb_generic_event_t" || !dialog_) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY) return false;
  const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
  if (destroyed->window != dialog_->winId()) return false;
  exit_status_ = kWindowLostStatus;
  dialog_->reject();
  return false;
}

}  // namespace kestrune::qt
