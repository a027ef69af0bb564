// The application's one window: the password, the hash and cipher choices,
// and the place files are dropped on. It mirrors the Windows dialog
// template, with a progress bar and status line added below it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include "core/files/file_system.h"
#include "core/kestrune.h"
#include "ui/qt/conversion_worker.h"
#include "ui/qt/waiting_files.h"

class QLabel;
class QMessageBox;
class QProgressBar;

namespace kestrune::qt {

class Announcer;
class DialogUnits;
class PasswordField;

class MainDialog final : public QDialog {
  Q_OBJECT

 public:
  // Sets the default choices, SHA256 and AES256, as the dialog opens.
  explicit MainDialog(FileSystem& file_system, DropConverter convert = dispatch_dropped_files);
  ~MainDialog() override;

  // Every way out (QUIT, Enter, Escape, the close box) ends here: the file
  // converting is abandoned safely and the rest of the queue forgotten.
  void done(int result) override;

  // What the next file to start is converted with.
  const SelectedChoices& choices() { return worker_.choices(); }

  // The worker's part of done(), without touching the window: for an exit
  // that bypasses the event loop. Idempotent.
  void stop_conversions();

  // Files from a command line, this launch's or a later one's: they wait for
  // the password and Enter, or join the queue behind a batch that runs.
  void take_command_line_files(LaunchOrder order, std::vector<DroppedItem> items);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void build_template_controls(const DialogUnits& units);
  void build_choice_groups(const DialogUnits& units, QWidget* quit_button);
  void build_progress_area(const DialogUnits& units);
  void connect_worker();
  void take_drop(std::vector<DroppedItem> items);
  void ask_before_encrypting_without_password(Drop drop);
  void enqueue(Drop drop);

  void schedule_status();
  void show_status();
  void show_file(const WorkerStatus& status);
  void show_failure(const QString& text, const QString& caption);
  void show_idle();
  void announce(const QString& status);
  void announce_batch_start(int count);
  void announce_batch_end(int count, int failed);
  void update_cursor();
  void receive_files(std::vector<DroppedItem> items);
  void convert_waiting_files();
  void show_waiting();

  PasswordField* password_field_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLabel* status_line_ = nullptr;
  Announcer* announcer_ = nullptr;
  QPointer<QMessageBox> failure_box_;
  // The worker's status is shown at most once a frame, however fast files go.
  QTimer status_timer_;
  QElapsedTimer since_status_shown_;
  WorkerStatus shown_status_;
  bool converting_ = false;
  bool shows_wait_cursor_ = false;
  bool closed_ = false;
  // From a conversion's start until the worker reports it idle.
  bool batch_running_ = false;
  WaitingFiles waiting_;
  ConversionWorker worker_;
};

}  // namespace kestrune::qt
