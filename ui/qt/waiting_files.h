// The files that wait in the dialog for the password: those given on the
// command line, by this launch and by the launches that handed theirs over,
// and those dropped while others wait.
#pragma once

#include <cstddef>
#include <vector>

#include "ui/qt/command_line_files.h"
#include "ui/qt/conversion_worker.h"

namespace kestrune::qt {

class WaitingFiles {
 public:
  // Places a launch's files among the others by launch order, so files a
  // file manager opened one process each wait in the order it started them.
  void add_launch(LaunchOrder order, std::vector<DroppedItem> items);
  // After everything already waiting.
  void add_drop(std::vector<DroppedItem> items);

  bool empty() const { return batches_.empty(); }
  std::size_t count() const;
  // Every file, in order; nothing waits afterwards.
  std::vector<DroppedItem> take();

 private:
  struct Batch {
    LaunchOrder order;
    std::vector<DroppedItem> items;
  };
  std::vector<Batch> batches_;
};

}  // namespace kestrune::qt
