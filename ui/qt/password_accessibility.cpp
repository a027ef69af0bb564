#include "ui/qt/password_accessibility.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <algorithm>
#include <memory>

namespace kestrune::qt {
namespace {

bool hides_its_text(const QLineEdit& field) { return field.echoMode() != QLineEdit::Normal; }

// What the field shows of `count` of its characters: as many mask
// characters, or nothing where it shows nothing.
QString masked(const QLineEdit& field, qsizetype count) {
  if (field.echoMode() == QLineEdit::NoEcho) return {};
  return QString(count, mask_character(field));
}

// Qt's own line-edit interface is private to Qt; this one answers every read
// of the text with the mask characters the field draws.
class MaskedFieldAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit MaskedFieldAccessible(QLineEdit* field)
      : QAccessibleWidget(field, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = !field().isReadOnly();
    state.readOnly = field().isReadOnly();
    state.passwordEdit = hides_its_text(field());
    state.selectableText = true;
    return state;
  }

  QString text(QAccessible::Text type) const override {
    if (type == QAccessible::Value) return shown_text();
    return QAccessibleWidget::text(type);
  }

  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || !field().hasSelectedText()) return;
    *start = field().selectionStart();
    *end = field().selectionEnd();
  }
  int selectionCount() const override { return field().hasSelectedText() ? 1 : 0; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int) override { field().deselect(); }
  void setSelection(int, int start, int end) override { field().setSelection(start, end - start); }
  int cursorPosition() const override { return field().cursorPosition(); }
  void setCursorPosition(int position) override { field().setCursorPosition(position); }

  QString text(int start, int end) const override {
    start = std::clamp(start, 0, characterCount());
    end = std::clamp(end, start, characterCount());
    return shown_text().mid(start, end - start);
  }
  int characterCount() const override { return static_cast<int>(field().text().size()); }

  // Each mask character is as wide as the next; the text's scrolling, which
  // Qt keeps private, is not counted.
  QRect characterRect(int offset) const override {
    const QFontMetrics metrics(field().font());
    const int advance = metrics.horizontalAdvance(mask_character(field()));
    const QRect contents = field().contentsRect().marginsRemoved(field().textMargins());
    const QPoint corner(contents.left() + offset * advance, contents.top());
    return {field().mapToGlobal(corner), QSize(advance, contents.height())};
  }
  int offsetAtPoint(const QPoint& point) const override {
    return field().cursorPositionAt(field().mapFromGlobal(point));
  }
  // The field keeps its cursor in view by itself.
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return {};
  }

 private:
  QLineEdit& field() const { return *static_cast<QLineEdit*>(widget()); }
  QString shown_text() const {
    return hides_its_text(field()) ? masked(field(), field().text().size()) : field().text();
  }
};

QAccessibleInterface* password_field_interface(const QString&, QObject* object) {
  auto* field = qobject_cast<QLineEdit*>(object);
  if (field == nullptr || !hides_its_text(*field)) return nullptr;
  return new MaskedFieldAccessible(field);
}

// Only these are looked at: asking for the source of any event would also
// create interfaces for objects that are being destroyed.
bool carries_text(QAccessible::Event type) {
  return type == QAccessible::TextInserted || type == QAccessible::TextRemoved ||
         type == QAccessible::TextUpdated || type == QAccessible::ValueChanged;
}

const QLineEdit* password_field_of(QAccessibleEvent& event) {
  QAccessibleInterface* source = event.accessibleInterface();
  if (source == nullptr || !source->state().passwordEdit) return nullptr;
  return qobject_cast<const QLineEdit*>(source->object());
}

template <typename Event, typename... Texts>
std::unique_ptr<QAccessibleEvent> masked_event(const QLineEdit& field, const Event& event,
                                               int position, const Texts&... texts) {
  auto copy = std::make_unique<Event>(event.object(), position, masked(field, texts.size())...);
  copy->setCursorPosition(event.cursorPosition());
  return copy;
}

}  // namespace

std::unique_ptr<QAccessibleEvent> masked_copy(QAccessibleEvent& event) {
  if (!carries_text(event.type())) return nullptr;
  const QLineEdit* field = password_field_of(event);
  if (field == nullptr) return nullptr;
  switch (event.type()) {
    case QAccessible::TextInserted: {
      const auto& inserted = static_cast<const QAccessibleTextInsertEvent&>(event);
      return masked_event(*field, inserted, inserted.changePosition(), inserted.textInserted());
    }
    case QAccessible::TextRemoved: {
      const auto& removed = static_cast<const QAccessibleTextRemoveEvent&>(event);
      return masked_event(*field, removed, removed.changePosition(), removed.textRemoved());
    }
    case QAccessible::TextUpdated: {
      const auto& updated = static_cast<const QAccessibleTextUpdateEvent&>(event);
      return masked_event(*field, updated, updated.changePosition(), updated.textRemoved(),
                          updated.textInserted());
    }
    case QAccessible::ValueChanged:
      return std::make_unique<QAccessibleValueChangeEvent>(event.object(),
                                                           masked(*field, field->text().size()));
    default: return nullptr;
  }
}

namespace {

// Qt's hook is one function pointer for the process; the handler found
// there before ours still gets every event.
QAccessible::UpdateHandler next_handler = nullptr;

void mask_password_events(QAccessibleEvent* event) {
  const std::unique_ptr<QAccessibleEvent> copy = masked_copy(*event);
  QAccessibleEvent* outgoing = copy ? copy.get() : event;
  if (next_handler != nullptr) {
    next_handler(outgoing);
    return;
  }
  // Qt hands an event to the platform's bridge only while no handler is
  // installed. (It would apply a table's model change twice; the dialog
  // has no tables.)
  QAccessible::installUpdateHandler(nullptr);
  QAccessible::updateAccessibility(outgoing);
  QAccessible::installUpdateHandler(mask_password_events);
}

}  // namespace

QChar mask_character(const QLineEdit& field) {
  return QChar(field.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &field));
}

void keep_passwords_off_accessibility() {
  QAccessible::installFactory(password_field_interface);
  const QAccessible::UpdateHandler previous =
      QAccessible::installUpdateHandler(mask_password_events);
  if (previous != mask_password_events) next_handler = previous;
}

}  // namespace kestrune::qt
