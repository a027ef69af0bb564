// The application's one window: the password, the hash and cipher choices,
// and the place files are dropped on. It mirrors the Windows dialog
// template, with a progress bar and status line added below it.
#pragma once

#include <QDialog>
#include <QPointer>

#include "conversion_worker.h"
#include "dispatch.h"
#include "files/file_system.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;

namespace kestrune::qt {

class DialogUnits;

class MainDialog final : public QDialog {
  Q_OBJECT

 public:
  // Sets the default choices, SHA256 and AES256, as the dialog opens.
  explicit MainDialog(FileSystem& file_system, DropConverter convert = dispatch_dropped_files);
  ~MainDialog() override;

  // Every way out (QUIT, Enter, Escape, the close box) ends here: the file
  // converting is abandoned safely and the rest of the queue forgotten.
  void done(int result) override;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void build_template_controls(const DialogUnits& units);
  void build_choice_groups(const DialogUnits& units);
  void build_progress_area(const DialogUnits& units);
  void connect_worker();

  void show_file_started(const QString& name, int number, int count);
  void show_progress(int percent);
  void show_failure(const QString& text, const QString& caption);
  void show_idle();
  void update_cursor();

  QLineEdit* password_field_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLabel* status_line_ = nullptr;
  QPointer<QMessageBox> failure_box_;
  QString current_file_;
  int current_number_ = 0;
  int current_count_ = 0;
  bool converting_ = false;
  bool shows_wait_cursor_ = false;
  bool closed_ = false;
  ConversionWorker worker_;
};

}  // namespace kestrune::qt
