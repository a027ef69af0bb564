#pragma once

#include <QIcon>

namespace kestrune::qt {

// The padlock in the sizes desktops ask for (16, 32 and 48 px).
QIcon application_icon();

}  // namespace kestrune::qt
