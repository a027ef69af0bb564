// Tells a screen reader what happened to the user's files while the focus
// is anywhere, in another application too. Qt 6.4 has no announcement event
// of its own, so this is what Orca and other AT-SPI readers present from any
// window: a notification (its role) that appears, its news as its name.
// Only a batch's start, each failure and its end are said, never progress.
#pragma once

#include <QObject>
#include <QString>
#include <deque>

class QWidget;

namespace kestrune::qt {

class Announcer final : public QObject {
  Q_OBJECT

 public:
  // The notifications are specks in the window's corner: they have to be
  // shown to be read.
  explicit Announcer(QWidget* window);

  // Shows `news` in a notification of its own: a reader reads it when it
  // gets to the event, by which time later news may have followed, so news
  // never replaces news. The last few stay for the reader to read.
  void announce(const QString& news);

 Q_SIGNALS:
  void announced(const QString& news);

 private:
  QWidget* window_;
  std::deque<QWidget*> recent_;
};

}  // namespace kestrune::qt
