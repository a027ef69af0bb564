// Converts dropped files on a thread of its own, so the dialog keeps
// repainting and answering while a file converts. Drops are converted one
// after another in the order they arrived, each with the password read when
// it was dropped; one file at a time, as they share one environment.
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/files/file_system.h"
#include "core/front_end.h"
#include "core/kestrune.h"

namespace kestrune::qt {

// One dropped item. Items that are not local files keep the path part of
// their address, which names them and tells their direction.
struct DroppedItem {
  std::filesystem::path path;
  bool is_local = true;
};

struct Drop {
  std::u16string password;
  std::vector<DroppedItem> items;
};

// What converts the local files of a drop; the core's dispatch outside tests.
using DropConverter = std::function<void(ConversionEnv&, std::u16string_view,
                                         std::span<const std::filesystem::path>)>;

// The "can't open" failure of an item's direction, for items the core
// cannot be given at all.
Failure unreachable_item_failure(const DroppedItem& item);

// What the dialog shows of the worker's progress.
struct WorkerStatus {
  bool busy = false;
  QString file;
  int number = 0;  // of `count` items accepted since the worker was last idle
  int count = 0;
  int percent = 0;
};

class ConversionWorker final : public QObject, private FrontEnd {
  Q_OBJECT

 public:
  ConversionWorker(FileSystem& file_system, DropConverter convert);
  // Stops as stop() does.
  ~ConversionWorker() override;

  // Queues `drop` behind those not yet converted. Any thread.
  void enqueue(Drop drop);

  // The choices each file starts with; the dialog changes them. Any thread.
  SelectedChoices& choices() { return env_.choices; }

  // The latest status; the next change is signalled again. Any thread.
  WorkerStatus take_status();

  // The failure last signalled has been read: the next file may start.
  void acknowledge_failure();

  // Abandons the current file as a failure would (its temporary output
  // removed, its input untouched), forgets the queue and returns once the
  // thread has ended. Nothing is signalled afterwards. Idempotent.
  void stop();

 Q_SIGNALS:
  // The status has changed since take_status() last read it. Sent once until
  // then however many files start meanwhile, so the window's event queue
  // stays short whatever the size of a drop.
  void status_changed();
  // The worker waits until acknowledge_failure() or stop().
  void failure_raised(const QString& text, const QString& caption);
  // Once per batch: the drops converted one after another until the worker
  // falls idle. `count` is the files accepted when the first one starts.
  void batch_started(int count);
  // `failed` of the batch's `count` files failed. Not after stop().
  void batch_finished(int count, int failed);

 private:
  void run(std::stop_token stop);
  bool next_drop(Drop& drop);
  void convert_drop(const Drop& drop);
  void announce_item(const DroppedItem& item);
  void finish_drop();
  // Changes the status under the lock and signals it unless already signalled.
  template <typename Change>
  void update_status(Change change);

  void show_failure(const Outcome& failed) override;
  void set_busy(bool busy) override;
  void progress(const std::filesystem::path& file, std::uint64_t done,
                std::uint64_t total) override;
  bool cancel_requested() override;

  DropConverter convert_;
  ConversionEnv env_;
  // The thread's own; the front-end calls all come from the thread.
  std::stop_token stop_;

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Drop> queue_;
  int items_started_ = 0;
  int items_accepted_ = 0;
  int items_failed_ = 0;
  WorkerStatus status_;
  bool status_signalled_ = false;
  bool failure_shown_ = false;

  // Last, so the thread starts after everything it uses exists and is
  // joined before any of it goes away.
  std::jthread thread_;
};

}  // namespace kestrune::qt
