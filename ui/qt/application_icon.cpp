#include "ui/qt/application_icon.h"

#include <QString>

namespace kestrune::qt {

QIcon application_icon() {
  QIcon icon;
  for (const int size : {16, 32, 48})
    icon.addFile(QStringLiteral(":/icons/kestrune-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace kestrune::qt
