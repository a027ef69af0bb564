#include "ui/qt/conversion_worker.h"

#include <QFile>
#include <utility>

#include "core/container_names.h"
#include "core/messages.h"
#include "core/secret_memory.h"
#include "core/services.h"

namespace kestrune::qt {

namespace {

// The whole buffer: a short password lives inside the string itself, and a
// move copies it out without clearing it.
void wipe_password(Drop& drop) {
  secure_wipe(drop.password.data(), drop.password.capacity() * sizeof(char16_t));
}

}  // namespace

Failure unreachable_item_failure(const DroppedItem& item) {
  return is_container_name(item.path) ? kCantOpenEncrypted : kCantOpenSource;
}

ConversionWorker::ConversionWorker(FileSystem& file_system, DropConverter convert)
    : convert_(std::move(convert)),
      env_{file_system, native_crypto_service(), *this},
      thread_([this](std::stop_token stop) { run(stop); }) {}

ConversionWorker::~ConversionWorker() { stop(); }

void ConversionWorker::enqueue(Drop drop) {
  {
    std::lock_guard lock(mutex_);
    items_accepted_ += static_cast<int>(drop.items.size());
    queue_.push_back(std::move(drop));
  }
  wipe_password(drop);
  wake_.notify_one();
}

WorkerStatus ConversionWorker::take_status() {
  std::lock_guard lock(mutex_);
  status_signalled_ = false;
  WorkerStatus status = status_;
  status.count = items_accepted_;
  return status;
}

template <typename Change>
void ConversionWorker::update_status(Change change) {
  bool signal = false;
  {
    std::lock_guard lock(mutex_);
    change(status_);
    signal = !std::exchange(status_signalled_, true);
  }
  if (signal && !cancel_requested()) Q_EMIT status_changed();
}

void ConversionWorker::acknowledge_failure() {
  {
    std::lock_guard lock(mutex_);
    failure_shown_ = false;
  }
  wake_.notify_one();
}

void ConversionWorker::stop() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  for (Drop& drop : queue_) wipe_password(drop);
  queue_.clear();
}

void ConversionWorker::run(std::stop_token stop) {
  stop_ = stop;
  Drop drop;
  while (next_drop(drop)) {
    convert_drop(drop);
    wipe_password(drop);
    finish_drop();
  }
}

bool ConversionWorker::next_drop(Drop& drop) {
  std::unique_lock lock(mutex_);
  if (!wake_.wait(lock, stop_, [this] { return !queue_.empty(); })) return false;
  drop = std::move(queue_.front());
  wipe_password(queue_.front());
  queue_.pop_front();
  return true;
}

void ConversionWorker::convert_drop(const Drop& drop) {
  for (const DroppedItem& item : drop.items) {
    if (cancel_requested()) return;
    announce_item(item);
    if (item.is_local) {
      convert_(env_, drop.password, {&item.path, 1});
    } else {
      show_failure(Outcome::failed(unreachable_item_failure(item)));
    }
  }
}

void ConversionWorker::announce_item(const DroppedItem& item) {
  QString name = QFile::decodeName(item.path.filename().c_str());
  int starts_batch_of = 0;
  update_status([&](WorkerStatus& status) {
    if (items_started_ == 0) starts_batch_of = items_accepted_;
    status = {true, std::move(name), ++items_started_, 0, 0};
  });
  if (starts_batch_of > 0 && !cancel_requested()) Q_EMIT batch_started(starts_batch_of);
}

void ConversionWorker::finish_drop() {
  int count = 0;
  int failed = 0;
  update_status([&](WorkerStatus& status) {
    if (!queue_.empty()) return;
    count = std::exchange(items_started_, 0);
    failed = std::exchange(items_failed_, 0);
    items_accepted_ = 0;
    status = {};
  });
  if (count > 0 && !cancel_requested()) Q_EMIT batch_finished(count, failed);
}

// The dialog shows the fixed texts only, as the Windows build does; the
// cause is for the command line.
void ConversionWorker::show_failure(const Outcome& failed) {
  if (cancel_requested()) return;
  const std::string_view text = failed.failure.text;
  const std::string_view caption = failed.failure.caption;
  {
    std::lock_guard lock(mutex_);
    failure_shown_ = true;
    ++items_failed_;
  }
  Q_EMIT failure_raised(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                        QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  std::unique_lock lock(mutex_);
  wake_.wait(lock, stop_, [this] { return !failure_shown_; });
}

// The dialog's wait cursor spans the whole queue rather than each file, so
// it does not flicker between files; see WorkerStatus::busy.
void ConversionWorker::set_busy(bool) {}

void ConversionWorker::progress(const std::filesystem::path&, std::uint64_t done,
                                std::uint64_t total) {
  const auto percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  update_status([percent](WorkerStatus& status) { status.percent = percent; });
}

bool ConversionWorker::cancel_requested() { return stop_.stop_requested(); }

}  // namespace kestrune::qt
