#include "ui/qt/main_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>

#include "core/algorithms.h"
#include "core/container_names.h"
#include "core/messages.h"
#include "ui/qt/announcer.h"
#include "ui/qt/application_icon.h"
#include "ui/qt/choice_accessibility.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dropped_uri.h"
#include "ui/qt/password_field.h"

namespace kestrune::qt {
namespace {

// The template is 171 x 155 dialog units; the progress bar and status line
// add a strip below it, with room for two lines, which the message for
// waiting files needs. The units follow the application's font, as the
// template's follow the dialog font on Windows.
constexpr int kWindowWidthUnits = 171;
constexpr int kTemplateHeightUnits = 155;
constexpr int kWindowHeightUnits = kTemplateHeightUnits + 35;

// The radio buttons' rows and widths, in the order the core lists the
// algorithms.
constexpr int kRadioTops[] = {82, 95, 108, 121, 135};
constexpr int kHashRadioWidths[] = {33, 39, 39, 39, 29};
constexpr int kCipherRadioWidths[] = {29, 32, 39, 39, 39};
constexpr int kRadioHeight = 10;
constexpr int kHashRadioLeft = 12;
constexpr int kCipherRadioLeft = 62;

// About one repaint's worth per frame.
constexpr qint64 kStatusIntervalMs = 33;

// Windows shows a static icon at the system's large-icon size.
constexpr int kIconPixels = 32;

// The template's widest line; the dialog units are chosen so that it fits.
constexpr auto kDropHint = "* Input a password and please drag files here *";
constexpr int kDropHintWidthUnits = 158;

constexpr auto kEmptyPasswordQuestion =
    "The password is empty: anyone can decrypt these files. Encrypt them anyway?";

QString to_qstring(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What a window manager's title bar and borders take, about.
int frame_allowance(const QFontMetrics& metrics) { return 2 * metrics.height(); }

// The user's font, made smaller only where the window would not otherwise
// fit the screen's free area: every control stays whole and on the screen.
QFont font_fitting_screen(QFont font) {
  constexpr double kSmallestPointSize = 5;
  constexpr double kStep = 0.9;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize available = screen != nullptr ? screen->availableGeometry().size() : QSize();
  // Set, not inherited: the window keeps the size it was laid out for.
  font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF());
  while (available.isValid() && font.pointSizeF() > kSmallestPointSize) {
    const DialogUnits units(font, QString::fromLatin1(kDropHint), kDropHintWidthUnits);
    const int allowance = frame_allowance(QFontMetrics(font));
    const QSize window =
        units.size(kWindowWidthUnits, kWindowHeightUnits) + QSize(allowance, allowance);
    if (window.width() <= available.width() && window.height() <= available.height()) break;
    font.setPointSizeF(font.pointSizeF() * kStep);
  }
  return font;
}

// A text longer than the template allowed for it (the font is not the
// template's) runs on into the free space to its right rather than being cut.
void place_whole(QWidget* control, const QRect& geometry) {
  control->setGeometry(geometry);
  control->resize(std::max(geometry.width(), control->sizeHint().width()), geometry.height());
}

QLabel* add_static_text(QWidget* parent, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  place_whole(label, geometry);
  return label;
}

// Adds the radio buttons of one choice inside its group box, so a screen
// reader announces them as that group's, each identified by its algorithm's
// ALG_ID, and checks `initial`. `left` and the rows are the template's,
// measured from the dialog's corner.
template <typename Algorithm, std::size_t kCount>
QButtonGroup* add_radio_group(QGroupBox* box, const Algorithm (&algorithms)[kCount],
                              const int (&widths)[kCount], int left, Algorithm initial,
                              const DialogUnits& units) {
  auto* group = new QButtonGroup(box);
  for (std::size_t i = 0; i < kCount; ++i) {
    auto* button = new QRadioButton(to_qstring(label(algorithms[i])), box);
    const QRect in_dialog = units.rect(left, kRadioTops[i], widths[i], kRadioHeight);
    place_whole(button, in_dialog.translated(-box->pos()));
    // Tab reaches the checked choice only; the arrow keys move within the
    // group. Qt moves the tab stop along as the focus moves.
    button->setFocusPolicy(algorithms[i] == initial ? Qt::StrongFocus : Qt::ClickFocus);
    button->setChecked(algorithms[i] == initial);
    group->addButton(button, static_cast<int>(algorithms[i]));
  }
  return group;
}

// Files dropped here are converted in place; the source must neither move
// nor delete them, so only copying is ever accepted.
void accept_file_drag(QDropEvent* event) {
  if (!event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

// Window managers put the caption between an icon and three buttons; a box
// only as wide as its short text would cut it ("Decr\u2026ROR").
void keep_caption_whole(QMessageBox& box) {
  constexpr int kTitleBarButtons = 4;
  const QFontMetrics metrics(box.font());
  const int width =
      metrics.horizontalAdvance(box.windowTitle()) + kTitleBarButtons * 2 * metrics.height();
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

QString status_text(const QFontMetrics& metrics, int width, const QString& file, int percent,
                    int number, int count) {
  const QString details =
      QStringLiteral(" \u2014 %1% \u2014 %2 of %3").arg(percent).arg(number).arg(count);
  const int file_width = width - metrics.horizontalAdvance(details);
  return metrics.elidedText(file, Qt::ElideMiddle, file_width) + details;
}

}  // namespace

MainDialog::MainDialog(FileSystem& file_system, DropConverter convert)
    : worker_(file_system, std::move(convert)) {
  setWindowTitle(QStringLiteral("Kestrune"));
  setWindowIcon(application_icon());
  const QFont dialog_font = font_fitting_screen(font());
  setFont(dialog_font);
  setAcceptDrops(true);

  const DialogUnits units(dialog_font, QString::fromLatin1(kDropHint), kDropHintWidthUnits);
  build_template_controls(units);
  build_progress_area(units);
  setFixedSize(units.size(kWindowWidthUnits, kWindowHeightUnits));
  connect_worker();
  password_field_->setFocus();
}

void MainDialog::build_template_controls(const DialogUnits& units) {
  QLabel* password_label =
      add_static_text(this, QStringLiteral("Password"), units.rect(6, 7, 158, 8));

  auto* quit_button = new QPushButton(QStringLiteral("QUIT"), this);
  quit_button->setGeometry(units.rect(114, 134, 50, 14));
  quit_button->setDefault(true);
  connect(quit_button, &QPushButton::clicked, this, &QDialog::accept);

  password_field_ = new PasswordField(this);
  password_field_->setObjectName(QStringLiteral("password_field"));
  password_field_->setGeometry(units.rect(6, 21, 158, 14));
  // A file dropped on the field is a file to convert, not text to insert.
  password_field_->setAcceptDrops(false);
  password_label->setBuddy(password_field_);
  connect(password_field_, &PasswordField::files_pasted, this,
          [this](const std::vector<DroppedItem>& items) { receive_files(items); });

  QLabel* hint = add_static_text(this, QString::fromLatin1(kDropHint),
                                 units.rect(6, 49, kDropHintWidthUnits, 8));
  hint->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // Heard once, as the field's description, rather than also with the
  // window's own labels, which a reader repeats before each announcement.
  hint->setBuddy(password_field_);
  password_field_->setAccessibleDescription(QString::fromLatin1(kDropHint));

  build_choice_groups(units, quit_button);

  auto* icon = new QLabel(this);
  icon->setPixmap(application_icon().pixmap(kIconPixels));
  icon->setGeometry(QRect(units.rect(131, 82, 20, 20).topLeft(), QSize(kIconPixels, kIconPixels)));
  icon->setAccessibleName(QStringLiteral("Kestrune"));

  add_static_text(this, QStringLiteral("Ver." KESTRUNE_VERSION), units.rect(127, 110, 25, 8));
}

// Linux desktops expect every control to be reachable from the keyboard, so
// unlike the Windows template, Tab goes from the password field to the
// checked hash, the checked cipher and QUIT.
void MainDialog::build_choice_groups(const DialogUnits& units, QWidget* quit_button) {
  hear_group_names_once();
  auto* hash_box = new QGroupBox(QStringLiteral("Hash"), this);
  hash_box->setGeometry(units.rect(6, 72, 48, 76));
  auto* cipher_box = new QGroupBox(QStringLiteral("Algorithm"), this);
  cipher_box->setGeometry(units.rect(59, 71, 48, 77));
  QButtonGroup* hashes = add_radio_group(hash_box, kAllHashes, kHashRadioWidths, kHashRadioLeft,
                                         kDefaultChoices.hash, units);
  QButtonGroup* ciphers = add_radio_group(cipher_box, kAllCiphers, kCipherRadioWidths,
                                          kCipherRadioLeft, kDefaultChoices.cipher, units);
  connect(hashes, &QButtonGroup::idClicked, this,
          [this](int id) { worker_.choices().set_hash(static_cast<HashAlgorithm>(id)); });
  connect(ciphers, &QButtonGroup::idClicked, this,
          [this](int id) { worker_.choices().set_cipher(static_cast<CipherAlgorithm>(id)); });

  QWidget* previous = password_field_;
  for (QButtonGroup* group : {hashes, ciphers}) {
    for (QAbstractButton* button : group->buttons()) {
      setTabOrder(previous, button);
      previous = button;
    }
  }
  setTabOrder(previous, quit_button);
}

void MainDialog::build_progress_area(const DialogUnits& units) {
  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName(QStringLiteral("progress_bar"));
  progress_bar_->setGeometry(units.rect(6, kTemplateHeightUnits, 158, 9));
  progress_bar_->setRange(0, 100);
  progress_bar_->setTextVisible(false);
  progress_bar_->setAccessibleName(QStringLiteral("Progress"));

  status_line_ =
      add_static_text(this, QString(), units.rect(6, kTemplateHeightUnits + 12, 158, 16));
  status_line_->setWordWrap(true);
  status_line_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_line_->setObjectName(QStringLiteral("status_line"));
  // Read with the bar it describes rather than with the window's own
  // labels, which a reader repeats before each announcement.
  status_line_->setBuddy(progress_bar_);
  announcer_ = new Announcer(this);
  show_idle();
}

void MainDialog::connect_worker() {
  status_timer_.setSingleShot(true);
  connect(&status_timer_, &QTimer::timeout, this, &MainDialog::show_status);
  connect(&worker_, &ConversionWorker::status_changed, this, &MainDialog::schedule_status);
  connect(&worker_, &ConversionWorker::failure_raised, this, &MainDialog::show_failure);
  connect(&worker_, &ConversionWorker::batch_started, this, &MainDialog::announce_batch_start);
  connect(&worker_, &ConversionWorker::batch_finished, this, &MainDialog::announce_batch_end);
}

MainDialog::~MainDialog() {
  closed_ = true;
  update_cursor();
}

void MainDialog::done(int result) {
  closed_ = true;
  status_timer_.stop();
  worker_.stop();
  update_cursor();
  if (failure_box_) failure_box_->close();
  QDialog::done(result);
}

void MainDialog::stop_conversions() { worker_.stop(); }

void MainDialog::dragEnterEvent(QDragEnterEvent* event) { accept_file_drag(event); }

void MainDialog::dragMoveEvent(QDragMoveEvent* event) { accept_file_drag(event); }

void MainDialog::dropEvent(QDropEvent* event) {
  std::vector<DroppedItem> items = dropped_items(*event->mimeData());
  if (items.empty()) {
    event->ignore();
    return;
  }
  accept_file_drag(event);
  receive_files(std::move(items));
}

// Files dropped or pasted while others wait for the password join them.
void MainDialog::receive_files(std::vector<DroppedItem> items) {
  if (waiting_.empty()) {
    take_drop(std::move(items));
    return;
  }
  waiting_.add_drop(std::move(items));
  show_waiting();
}

// Files dropped or pasted, with the password as it is now.
void MainDialog::take_drop(std::vector<DroppedItem> items) {
  Drop drop{password_field_->text().toStdU16String(), std::move(items)};
  const bool encrypts = std::any_of(drop.items.begin(), drop.items.end(),
                                    [](const auto& item) { return !is_container_name(item.path); });
  if (drop.password.empty() && encrypts)
    ask_before_encrypting_without_password(std::move(drop));
  else
    enqueue(std::move(drop));
}

// An empty password's key is the same for everyone. Decrypting with it stays
// silent: containers made that way exist.
void MainDialog::ask_before_encrypting_without_password(Drop drop) {
  auto* question = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                   QString::fromLatin1(kEmptyPasswordQuestion),
                                   QMessageBox::Yes | QMessageBox::No, this);
  question->setDefaultButton(QMessageBox::No);
  question->setWindowModality(Qt::WindowModal);
  question->setAttribute(Qt::WA_DeleteOnClose);
  connect(question, &QMessageBox::finished, this, [this, question, drop = std::move(drop)] {
    if (question->clickedButton() == question->button(QMessageBox::Yes)) enqueue(drop);
  });
  question->open();
}

void MainDialog::enqueue(Drop drop) {
  batch_running_ = true;
  worker_.enqueue(std::move(drop));
  // The count in the status line grows at once.
  if (converting_) schedule_status();
}

void MainDialog::take_command_line_files(LaunchOrder order, std::vector<DroppedItem> items) {
  if (items.empty()) return;
  if (batch_running_ && waiting_.empty()) {
    take_drop(std::move(items));
    return;
  }
  waiting_.add_launch(order, std::move(items));
  show_waiting();
}

// Enter converts what waits; with nothing waiting it still quits. An empty
// field is not yet a password: the files keep waiting for one.
void MainDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || waiting_.empty()) {
    QDialog::keyPressEvent(event);
    return;
  }
  event->accept();
  convert_waiting_files();
}

void MainDialog::convert_waiting_files() {
  if (password_field_->text().isEmpty()) return;
  take_drop(waiting_.take());
  status_line_->clear();
  announce(QString());
}

void MainDialog::show_waiting() {
  if (converting_) return;
  const std::string message = waiting_files_message(waiting_.count());
  status_line_->setText(QString::fromStdString(message));
  announce(status_line_->text());
}

// Reports still queued when the dialog closes are ignored: they describe
// work that was abandoned.
void MainDialog::schedule_status() {
  if (closed_ || status_timer_.isActive()) return;
  const qint64 wait = kStatusIntervalMs - since_status_shown_.elapsed();
  status_timer_.start(since_status_shown_.isValid() ? std::max<qint64>(wait, 0) : 0);
}

void MainDialog::show_status() {
  if (closed_) return;
  since_status_shown_.start();
  const WorkerStatus status = worker_.take_status();
  if (status.busy)
    show_file(status);
  else
    show_idle();
}

void MainDialog::show_file(const WorkerStatus& status) {
  if (!converting_ || status.file != shown_status_.file || status.number != shown_status_.number)
    announce(
        QStringLiteral("%1 \u2014 %2 of %3").arg(status.file).arg(status.number).arg(status.count));
  converting_ = true;
  shown_status_ = status;
  // The whole batch: a bar that filled for each file would say 100 percent
  // long before the end.
  const int files_done = status.number - 1;
  progress_bar_->setValue((files_done * 100 + status.percent) / std::max(status.count, 1));
  // An ampersand is shown as itself, not taken as the bar's shortcut key.
  status_line_->setText(status_text(status_line_->fontMetrics(), status_line_->width(), status.file,
                                    status.percent, status.number, status.count)
                            .replace(QLatin1Char('&'), QStringLiteral("&&")));
  update_cursor();
}

// The box is not modal: the dialog stays usable while it is shown, and a
// choice changed meanwhile applies to the files that follow.
void MainDialog::show_failure(const QString& text, const QString& caption) {
  if (closed_) return;
  status_timer_.stop();
  show_status();
  announce(shown_status_.file + QStringLiteral(" \u2014 ") + text);
  announcer_->announce(QStringLiteral("%1 failed: %2").arg(shown_status_.file, text));
  failure_box_ = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
  failure_box_->setTextFormat(Qt::PlainText);
  // Which file failed, on a line of its own below the fixed text.
  failure_box_->setInformativeText(shown_status_.file);
  keep_caption_whole(*failure_box_);
  failure_box_->setWindowModality(Qt::NonModal);
  failure_box_->setAttribute(Qt::WA_DeleteOnClose);
  connect(failure_box_, &QMessageBox::finished, this, [this] {
    failure_box_ = nullptr;
    worker_.acknowledge_failure();
    update_cursor();
  });
  failure_box_->show();
  update_cursor();
}

void MainDialog::show_idle() {
  converting_ = false;
  batch_running_ = false;
  shown_status_ = {};
  progress_bar_->setValue(0);
  status_line_->clear();
  announce(QString());
  update_cursor();
  if (!waiting_.empty()) show_waiting();
}

void MainDialog::announce_batch_start(int count) {
  if (closed_) return;
  announcer_->announce(count == 1 ? QStringLiteral("Converting 1 file")
                                  : QStringLiteral("Converting %1 files").arg(count));
}

void MainDialog::announce_batch_end(int count, int failed) {
  if (closed_) return;
  if (failed > 0)
    announcer_->announce(QStringLiteral("%1 of %2 failed").arg(failed).arg(count));
  else
    announcer_->announce(count == 1 ? QStringLiteral("1 file converted")
                                    : QStringLiteral("%1 files converted").arg(count));
}

// A screen reader hears the status line when a file starts, fails or the
// last one ends, not at every percent: its accessible name changes only
// then, and while it is set the line's changing text raises no events.
void MainDialog::announce(const QString& status) { status_line_->setAccessibleName(status); }

// The wait cursor over the whole window, the password field included, while
// a file converts; not while a failure waits for the user.
void MainDialog::update_cursor() {
  const bool wait = converting_ && failure_box_ == nullptr && !closed_;
  if (wait == shows_wait_cursor_) return;
  shows_wait_cursor_ = wait;
  if (wait)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace kestrune::qt
