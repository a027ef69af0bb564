#include "ui/qt/main_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "core/algorithms.h"
#include "ui/qt/application_icon.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dropped_uri.h"

namespace kestrune::qt {
namespace {

// The template is 171 x 155 dialog units at a 9-point font; the progress
// bar and status line add a strip below it.
constexpr int kFontPointSize = 9;
constexpr int kWindowWidthUnits = 171;
constexpr int kTemplateHeightUnits = 155;
constexpr int kWindowHeightUnits = kTemplateHeightUnits + 27;

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

QString to_qstring(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
  QFont dialog_font = font();
  dialog_font.setPointSize(kFontPointSize);
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

  password_field_ = new QLineEdit(this);
  password_field_->setObjectName(QStringLiteral("password_field"));
  password_field_->setGeometry(units.rect(6, 21, 158, 14));
  password_field_->setEchoMode(QLineEdit::Password);
  // A file dropped on the field is a file to convert, not text to insert.
  password_field_->setAcceptDrops(false);
  password_label->setBuddy(password_field_);
  password_field_->setAccessibleDescription(QString::fromLatin1(kDropHint));

  QLabel* hint = add_static_text(this, QString::fromLatin1(kDropHint),
                                 units.rect(6, 49, kDropHintWidthUnits, 8));
  hint->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

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

  status_line_ = add_static_text(this, QString(), units.rect(6, kTemplateHeightUnits + 12, 158, 8));
  status_line_->setObjectName(QStringLiteral("status_line"));
  show_idle();
}

void MainDialog::connect_worker() {
  status_timer_.setSingleShot(true);
  connect(&status_timer_, &QTimer::timeout, this, &MainDialog::show_status);
  connect(&worker_, &ConversionWorker::status_changed, this, &MainDialog::schedule_status);
  connect(&worker_, &ConversionWorker::failure_raised, this, &MainDialog::show_failure);
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
  worker_.enqueue({password_field_->text().toStdU16String(), std::move(items)});
  // The count in the status line grows at once.
  if (converting_) schedule_status();
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
  progress_bar_->setValue(status.percent);
  status_line_->setText(status_text(status_line_->fontMetrics(), status_line_->width(), status.file,
                                    status.percent, status.number, status.count));
  update_cursor();
}

// The box is not modal: the dialog stays usable while it is shown, and a
// choice changed meanwhile applies to the files that follow.
void MainDialog::show_failure(const QString& text, const QString& caption) {
  if (closed_) return;
  status_timer_.stop();
  show_status();
  announce(shown_status_.file + QStringLiteral(" \u2014 ") + text);
  failure_box_ = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
  failure_box_->setTextFormat(Qt::PlainText);
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
  shown_status_ = {};
  progress_bar_->setValue(0);
  status_line_->clear();
  announce(QString());
  update_cursor();
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
