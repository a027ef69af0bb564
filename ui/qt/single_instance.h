// One window per user. A launch first offers its files to the window already
// open, through a local socket in the user's runtime folder; if none answers,
// it listens there itself and opens the window. Only this user's processes
// can reach the socket, and each end checks the other's account.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "ui/qt/command_line_files.h"
#include "ui/qt/conversion_worker.h"

namespace kestrune::qt {

struct Handover {
  LaunchOrder order;
  std::vector<DroppedItem> items;
};

// `$XDG_RUNTIME_DIR/kestrune.socket`; nothing when that folder is unset or
// is not this user's alone.
std::optional<QString> user_socket_path();

class InstanceChannel final : public QObject {
 public:
  using Receiver = std::function<void(Handover)>;

  explicit InstanceChannel(QString socket_path);

  // True when the window already open has taken `handover`: its files now
  // wait there, and this process should end. False when this process is to
  // open the window; it then listens for the next launches if it can.
  bool hand_over_or_listen(const Handover& handover);

  // Where the files of later launches go, once the window exists. Each
  // launch is answered only after `receiver` has returned.
  void receive_with(Receiver receiver);

  bool is_listening() const { return server_.isListening(); }

 private:
  void accept_launches();
  void read_handover(class QLocalSocket* socket);

  QString socket_path_;
  QLocalServer server_;
  Receiver receiver_;
};

}  // namespace kestrune::qt
