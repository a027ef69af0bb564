// Ends the dialog as QUIT does when the session rather than the user ends
// it: SIGTERM (a logout sends it), SIGINT or SIGHUP, the X connection lost,
// or the window destroyed under it. The file converting is abandoned safely
// and nothing queued starts; the exit status says it was not a normal quit.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>

class QSocketNotifier;

namespace kestrune::qt {

class MainDialog;

class Termination final : public QObject, private QAbstractNativeEventFilter {
 public:
  // Blocks the signals in this thread and so in every thread started after
  // it: they arrive only through a descriptor the event loop watches, and no
  // handler runs in the middle of anything. Construct it first in main(),
  // before anything starts a thread.
  Termination();
  ~Termination() override;
  Termination(const Termination&) = delete;
  Termination& operator=(const Termination&) = delete;

  // Ends `dialog` on any of the above; needs the application object.
  void watch(MainDialog& dialog);

  // 0 after a normal quit, 128 + the signal's number after a signal, 1 when
  // the window was destroyed. Losing the display exits with 1 directly.
  int exit_status() const { return exit_status_; }

 private:
  void end_on_signal();
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

  int signal_fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QPointer<MainDialog> dialog_;
  int exit_status_ = 0;
  bool exit_hook_registered_ = false;
};

}  // namespace kestrune::qt
