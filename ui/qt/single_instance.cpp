#include "ui/qt/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDataStream>
#include <QFile>
#include <QLocalSocket>

namespace kestrune::qt {
namespace {

constexpr quint32 kMagic = 0x4b53544e;  // "KSTN", then the version
constexpr quint32 kVersion = 1;
constexpr char kTaken = 'k';
constexpr quint32 kMostItems = 1u << 20;
constexpr qint64 kMostMessageBytes = qint64{256} << 20;
// The window may still be starting, on a busy machine.
constexpr int kConnectMs = 2000;
constexpr int kAnswerMs = 10000;

// Holds an exclusive lock on a file for its lifetime, so that launches
// started together decide one at a time which of them opens the window.
class LaunchLock {
 public:
  explicit LaunchLock(const QByteArray& path)
      : fd_(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) release();
  }
  ~LaunchLock() { release(); }
  LaunchLock(const LaunchLock&) = delete;
  LaunchLock& operator=(const LaunchLock&) = delete;
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void release() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    fd_ = -1;
  }
  int fd_;
};

bool peer_is_this_user(qintptr socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
         peer.uid == ::geteuid();
}

QByteArray encode(const Handover& handover) {
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out << kMagic << kVersion << quint64{handover.order.start_ticks}
      << quint64{handover.order.process_id} << static_cast<quint32>(handover.items.size());
  for (const DroppedItem& item : handover.items)
    out << item.is_local << QByteArray::fromStdString(item.path.native());
  return message;
}

// Reads one message of ours: refused when it is not one, incomplete while
// the rest has not arrived.
enum class Read { complete, incomplete, refused };
Read decode(QDataStream& in, Handover& handover) {
  quint32 magic = 0, version = 0, count = 0;
  quint64 start_ticks = 0, process_id = 0;
  in >> magic >> version >> start_ticks >> process_id >> count;
  if (in.status() == QDataStream::Ok &&
      (magic != kMagic || version != kVersion || count > kMostItems))
    return Read::refused;
  handover = {{start_ticks, process_id}, {}};
  for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    bool is_local = false;
    QByteArray path;
    in >> is_local >> path;
    handover.items.push_back({std::filesystem::path(path.toStdString()), is_local});
  }
  if (in.status() == QDataStream::ReadPastEnd) return Read::incomplete;
  return in.status() == QDataStream::Ok ? Read::complete : Read::refused;
}

enum class Offer { taken, no_window, unanswered };

// After a connection, only the window's answer tells the files were taken:
// without it they stay this launch's own.
Offer offer_files(QLocalSocket& socket, const Handover& handover) {
  if (!peer_is_this_user(socket.socketDescriptor())) return Offer::unanswered;
  socket.write(encode(handover));
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(kAnswerMs)) return Offer::unanswered;
  if (!socket.waitForReadyRead(kAnswerMs)) return Offer::unanswered;
  char answer = 0;
  return socket.read(&answer, 1) == 1 && answer == kTaken ? Offer::taken : Offer::unanswered;
}

}  // namespace

std::optional<QString> user_socket_path() {
  const QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
  struct stat status {};
  if (folder.isEmpty() || !folder.startsWith('/') || ::stat(folder.constData(), &status) != 0)
    return std::nullopt;
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
    return std::nullopt;
  return QFile::decodeName(folder) + QStringLiteral("/kestrune.socket");
}

InstanceChannel::InstanceChannel(QString socket_path) : socket_path_(std::move(socket_path)) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
}

bool InstanceChannel::hand_over_or_listen(const Handover& handover) {
  QLocalSocket socket;
  {
    const LaunchLock lock(QFile::encodeName(socket_path_ + QStringLiteral(".lock")));
    if (!lock) return false;
    socket.connectToServer(socket_path_);
    if (!socket.waitForConnected(kConnectMs)) {
      // Left by a window that ended without closing it, or never there.
      QLocalServer::removeServer(socket_path_);
      server_.listen(socket_path_);
      return false;
    }
  }
  return offer_files(socket, handover) == Offer::taken;
}

void InstanceChannel::receive_with(Receiver receiver) {
  receiver_ = std::move(receiver);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceChannel::accept_launches);
  accept_launches();
}

void InstanceChannel::accept_launches() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!peer_is_this_user(socket->socketDescriptor())) {
      socket->abort();
      continue;
    }
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read_handover(socket); });
    read_handover(socket);
  }
}

void InstanceChannel::read_handover(QLocalSocket* socket) {
  QDataStream in(socket);
  in.setVersion(QDataStream::Qt_6_0);
  in.startTransaction();
  Handover handover;
  const Read read = decode(in, handover);
  if (read == Read::incomplete) {
    in.rollbackTransaction();
    if (socket->bytesAvailable() > kMostMessageBytes) socket->abort();
    return;
  }
  if (read == Read::refused) {
    in.abortTransaction();
    socket->abort();
    return;
  }
  in.commitTransaction();
  receiver_(std::move(handover));
  socket->write(&kTaken, 1);
  socket->flush();
}

}  // namespace kestrune::qt
