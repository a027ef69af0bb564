// Tells a screen reader what happened to the user's files while the focus
// is anywhere, in another application too. Qt 6.4 has no announcement event
// of its own, so this is what Orca and other AT-SPI readers present from any
// window: a notification (its role) that appears, with its news as a label.
// Only a batch's start, each failure and its end are said, never progress.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace kestrune::qt {

class Announcer final : public QWidget {
  Q_OBJECT

 public:
  // A speck in the parent's corner: it has to be shown to be read.
  explicit Announcer(QWidget* parent);

  // Shows `news` as the notification's text, once: the notification
  // disappears and appears again, which a reader takes as new.
  void announce(const QString& news);
  QString last_news() const;

 private:
  QLabel* news_;
};

}  // namespace kestrune::qt
