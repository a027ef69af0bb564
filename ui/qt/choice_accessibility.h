// The radio buttons as a screen reader should hear them. Qt says each button
// is labelled by its group box, so Orca repeats the group's name with every
// arrow press inside the group; the group is heard once, as the focus enters
// it, when its buttons are named by their own text only.
#pragma once

namespace kestrune::qt {

// For every radio button inside a group box, from now on. Qt's hook is
// process-wide; installing it again is harmless.
void hear_group_names_once();

}  // namespace kestrune::qt
