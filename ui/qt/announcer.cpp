#include "ui/qt/announcer.h"

#include <QAccessibleWidget>
#include <QTimer>
#include <QWidget>

namespace kestrune::qt {
namespace {

// Enough for a batch's start, a failure and its end to be read in turn.
constexpr std::size_t kNotificationsKept = 4;
// Long enough for a reader to get to the event. Then the news is hidden: a
// reader reads a window's shown labels when the user returns to it.
constexpr int kShownMs = 5000;

// A notification of one news, heard, not seen: the status line shows the
// same. The news is its name: a label inside it would also be read out with
// the window's other labels.
class Notification final : public QWidget {
  Q_OBJECT

 public:
  Notification(QWidget* window, const QString& news) : QWidget(window) {
    setAccessibleName(news);
    setGeometry(0, 0, 1, 1);
  }
};

QAccessibleInterface* notification_interface(const QString&, QObject* object) {
  auto* notification = qobject_cast<Notification*>(object);
  if (notification == nullptr) return nullptr;
  return new QAccessibleWidget(notification, QAccessible::Notification);
}

}  // namespace

Announcer::Announcer(QWidget* window) : QObject(window), window_(window) {
  // Installing it again is harmless: Qt keeps each factory once.
  QAccessible::installFactory(notification_interface);
}

void Announcer::announce(const QString& news) {
  auto* notification = new Notification(window_, news);
  notification->lower();
  notification->show();
  QTimer::singleShot(kShownMs, notification, &QWidget::hide);
  recent_.push_back(notification);
  if (recent_.size() > kNotificationsKept) {
    delete recent_.front();
    recent_.pop_front();
  }
  Q_EMIT announced(news);
}

}  // namespace kestrune::qt

#include "announcer.moc"
