#include "announcer.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QPalette>

namespace kestrune::qt {
namespace {

QAccessibleInterface* notification_interface(const QString&, QObject* object) {
  auto* announcer = qobject_cast<Announcer*>(object);
  if (announcer == nullptr) return nullptr;
  return new QAccessibleWidget(announcer, QAccessible::Notification);
}

}  // namespace

Announcer::Announcer(QWidget* parent) : QWidget(parent), news_(new QLabel(this)) {
  // Installing it again is harmless: Qt keeps each factory once.
  QAccessible::installFactory(notification_interface);
  setObjectName(QStringLiteral("announcer"));
  setAccessibleName(QStringLiteral("Kestrune"));
  news_->setTextFormat(Qt::PlainText);
  // Read, not seen: the status line shows the same news.
  QPalette invisible_text = news_->palette();
  invisible_text.setColor(QPalette::WindowText, Qt::transparent);
  news_->setPalette(invisible_text);
  news_->setGeometry(0, 0, 1, 1);
  setGeometry(0, 0, 1, 1);
  lower();
}

void Announcer::announce(const QString& news) {
  hide();
  news_->setText(news);
  show();
}

QString Announcer::last_news() const { return news_->text(); }

}  // namespace kestrune::qt
