#include "ui/qt/waiting_files.h"

#include <algorithm>
#include <iterator>

namespace kestrune::qt {

void WaitingFiles::add_launch(LaunchOrder order, std::vector<DroppedItem> items) {
  if (items.empty()) return;
  // After every batch of the same place, so equal places keep their arrival.
  const auto place =
      std::upper_bound(batches_.begin(), batches_.end(), order,
                       [](const LaunchOrder& o, const Batch& b) { return o < b.order; });
  batches_.insert(place, {order, std::move(items)});
}

void WaitingFiles::add_drop(std::vector<DroppedItem> items) {
  if (items.empty()) return;
  const LaunchOrder last = batches_.empty() ? LaunchOrder{} : batches_.back().order;
  batches_.push_back({last, std::move(items)});
}

std::size_t WaitingFiles::count() const {
  std::size_t count = 0;
  for (const Batch& batch : batches_) count += batch.items.size();
  return count;
}

std::vector<DroppedItem> WaitingFiles::take() {
  std::vector<DroppedItem> items;
  for (Batch& batch : batches_)
    std::move(batch.items.begin(), batch.items.end(), std::back_inserter(items));
  batches_.clear();
  return items;
}

}  // namespace kestrune::qt
