// Drives the dialog as a user and the desktop would, for in-process tests.
#pragma once

#include <QList>
#include <QPoint>
#include <QString>
#include <QUrl>

class QAbstractButton;
class QMessageBox;
class QMimeData;
class QWidget;

namespace kestrune::test {

// Delivers a drag that enters, moves and drops at `position` to the window's
// handle, which routes it to the widget there as it would a drag from another
// application. True when the drop was accepted.
bool drop_on(QWidget& window, QPoint position, const QMimeData& data);
// What a file manager offers when files are dragged from it.
QMimeData* file_manager_drag(const QList<QUrl>& urls);
// Drops `urls` on the middle of the window, as a file manager would.
bool drop_urls(QWidget& window, const QList<QUrl>& urls);

// The control with this text (a radio button or push button).
QAbstractButton* button_labelled(QWidget& window, const QString& text);

// The failure message box on screen, if any.
QMessageBox* shown_failure_box();

}  // namespace kestrune::test
