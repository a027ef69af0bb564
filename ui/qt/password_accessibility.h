// Keeps a password field's characters inside the process. Qt's own line edit
// answers reads of a password field with nothing, but its change events carry
// every typed, deleted and pasted character to all programs on the
// accessibility bus, and a screen reader speaks them. Here a password field
// reads as its mask characters, and its change events carry mask characters
// only, one per changed character, so a listener still hears each key.
#pragma once

#include <QString>
#include <memory>

class QAccessibleEvent;
class QLineEdit;

namespace kestrune::qt {

// The character the field draws for each of its own.
QChar mask_character(const QLineEdit& field);

// The event as it may leave the process: a password field's text changes
// (inserted, removed, updated, a new value) with one mask character for each
// of its own; null for every other event, which leaves unchanged.
std::unique_ptr<QAccessibleEvent> masked_copy(QAccessibleEvent& event);

// Installs, for the whole application (Qt's accessibility hooks are
// process-wide), the field's masked interface and the masking of its change
// events. Call once, after the QApplication exists and before any window is
// shown. Other update handlers installed before it still see every event,
// masked.
void keep_passwords_off_accessibility();

}  // namespace kestrune::qt
