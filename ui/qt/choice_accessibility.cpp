#include "ui/qt/choice_accessibility.h"

#include <QAccessibleWidget>
#include <QGroupBox>
#include <QRadioButton>
#include <algorithm>

namespace kestrune::qt {
namespace {

class ChoiceAccessible final : public QAccessibleWidget {
 public:
  explicit ChoiceAccessible(QRadioButton* button)
      : QAccessibleWidget(button, QAccessible::RadioButton) {}

  QString text(QAccessible::Text type) const override {
    if (type == QAccessible::Name && button().accessibleName().isEmpty()) return button().text();
    return QAccessibleWidget::text(type);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = button().isChecked();
    return state;
  }

  QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
      QAccessible::Relation match) const override {
    auto related = QAccessibleWidget::relations(match);
    related.removeIf([this](const auto& relation) {
      return relation.second == QAccessible::Label &&
             relation.first->object() == button().parentWidget();
    });
    return related;
  }

  QStringList actionNames() const override {
    return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == toggleAction())
      button().click();
    else
      QAccessibleWidget::doAction(action);
  }

 private:
  QRadioButton& button() const { return *static_cast<QRadioButton*>(widget()); }
};

QAccessibleInterface* choice_interface(const QString&, QObject* object) {
  auto* button = qobject_cast<QRadioButton*>(object);
  if (button == nullptr || qobject_cast<QGroupBox*>(button->parentWidget()) == nullptr)
    return nullptr;
  return new ChoiceAccessible(button);
}

}  // namespace

void hear_group_names_once() { QAccessible::installFactory(choice_interface); }

}  // namespace kestrune::qt
