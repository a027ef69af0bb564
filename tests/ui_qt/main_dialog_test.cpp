// The dialog in-process, on the offscreen platform: its window and choices,
// how drops reach the core, the queue, failure messages and quitting.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/algorithms.h"
#include "core/messages.h"
#include "core/services.h"
#include "tests/ui_qt/dialog_driver.h"
#include "tests/ui_qt/scripted_core.h"
#include "ui/qt/announcer.h"
#include "ui/qt/command_line_files.h"
#include "ui/qt/dropped_uri.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/password_accessibility.h"
#include "ui/qt/single_instance.h"
#include "ui/qt/termination.h"

namespace kestrune::test {
namespace {

constexpr int kTimeoutMs = 5000;
const QString kTestPassword = QStringLiteral("test password");

QUrl local(const char* path) { return QUrl::fromLocalFile(QString::fromUtf8(path)); }

using Paths = std::vector<std::filesystem::path>;

// Counts the queued signals (the worker's reports) an object receives.
class MetaCallCounter final : public QObject {
 public:
  explicit MetaCallCounter(QObject* watched) { watched->installEventFilter(this); }
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++count_;
    return false;
  }

 private:
  int count_ = 0;
};

// Collects what the dialog announces.
class AnnouncementRecorder final : public QObject {
 public:
  explicit AnnouncementRecorder(qt::Announcer* announcer) {
    connect(announcer, &qt::Announcer::announced, this,
            [this](const QString& news) { heard_ << news; });
  }
  const QStringList& heard() const { return heard_; }

 private:
  QStringList heard_;
};

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 public:
  explicit MainDialogTest(qt::Termination& termination) : termination_(termination) {}

 private Q_SLOTS:
  void init() {
    core_ = std::make_unique<ScriptedCore>();
    dialog_ = std::make_unique<qt::MainDialog>(*file_system_, core_->converter());
    termination_.watch(*dialog_);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    password_on_opening_ = password_field()->text();
    // Encrypting without one asks first; the tests that drop mean a password.
    password_field()->setText(kTestPassword);
  }

  void cleanup() {
    dialog_.reset();
    core_.reset();
  }

  void opens_with_the_template_controls_and_defaults() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(dialog_->choices().hash(), HashAlgorithm::sha256);
    QCOMPARE(dialog_->choices().cipher(), CipherAlgorithm::aes256);
    QVERIFY(button("SHA256")->isChecked());
    QVERIFY(button("AES256")->isChecked());
    QCOMPARE(QApplication::focusWidget(), password_field());
    QCOMPARE(password_field()->echoMode(), QLineEdit::Password);
    QVERIFY(password_on_opening_.isEmpty());
    QVERIFY(qobject_cast<QPushButton*>(button("QUIT"))->isDefault());
    QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());

    QStringList texts;
    for (auto* label : dialog_->findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts << label->text();
    for (auto* group : dialog_->findChildren<QGroupBox*>()) texts << group->title();
    for (auto* control : dialog_->findChildren<QAbstractButton*>()) texts << control->text();
    texts.sort();
    QStringList expected{"Password",  "* Input a password and please drag files here *",
                         "Hash",      "Algorithm",
                         "SHA1",      "SHA256",
                         "SHA384",    "SHA512",
                         "MD5",       "DES",
                         "3DES",      "AES128",
                         "AES192",    "AES256",
                         "Ver.1.0.4", "QUIT"};
    expected.sort();
    QCOMPARE(texts, expected);
  }

  void shows_the_icon_and_every_text_whole() {
    const auto labels = dialog_->findChildren<QLabel*>();
    QVERIFY2(std::any_of(labels.begin(), labels.end(),
                         [](QLabel* label) { return !label->pixmap().isNull(); }),
             "the icon resource did not load");
    for (QWidget* control : dialog_->findChildren<QWidget*>()) {
      const QString text = control->property("text").toString();
      if (text.isEmpty()) continue;
      QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(text));
      // Inside its parent, which would cut it off: the group boxes too.
      QVERIFY2(control->parentWidget()->rect().contains(control->geometry()), qPrintable(text));
    }
  }

  // The layout grows with the user's font, as the template's dialog units
  // do on Windows, and shrinks only where the screen's free area is too
  // small for it (800 x 600 at scale 2, run as qt_main_dialog_small_screen):
  // never a control cut or off the screen. Leaves a picture of each.
  void the_window_follows_the_font_and_fits_the_screen_data() {
    QTest::addColumn<double>("point_size");
    QTest::newRow("9pt") << 9.0;
    QTest::newRow("16pt") << 16.0;
  }

  void the_window_follows_the_font_and_fits_the_screen() {
    QFETCH(double, point_size);
    const QFont application_font = QApplication::font();
    QFont users_font = application_font;
    users_font.setPointSizeF(point_size);
    QApplication::setFont(users_font);
    qt::MainDialog dialog(*file_system_, core_->converter());
    QApplication::setFont(application_font);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const QScreen* screen = dialog.screen();
    const QRect available = screen->availableGeometry();
    const int title_bar = 2 * QFontMetrics(dialog.font()).height();
    QVERIFY(dialog.width() <= available.width());
    QVERIFY(dialog.height() + title_bar <= available.height());
    const bool roomy = available.height() >= 480;
    if (roomy) QCOMPARE(dialog.font().pointSizeF(), point_size);
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
      if (!control->isVisible()) continue;
      QVERIFY2(dialog.rect().contains(control->geometry().translated(
                   control->parentWidget()->mapTo(&dialog, QPoint(0, 0)))),
               qPrintable(control->objectName()));
      const QString text = control->property("text").toString();
      if (text.isEmpty()) continue;
      // A push button's hint has a floor in pixels; its text is what must fit.
      const int needed = qobject_cast<QPushButton*>(control) != nullptr
                             ? control->fontMetrics().horizontalAdvance(text)
                             : control->sizeHint().width();
      QVERIFY2(needed <= control->width(), qPrintable(text));
    }
    const QByteArray folder = qgetenv("KESTRUNE_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
      const QSize screen_pixels = screen->geometry().size() * screen->devicePixelRatio();
      const QString name = QStringLiteral("%1/kestrune-dialog-%2-%3x%4-scale%5.png")
                               .arg(QString::fromLocal8Bit(folder), QTest::currentDataTag())
                               .arg(screen_pixels.width())
                               .arg(screen_pixels.height())
                               .arg(screen->devicePixelRatio());
      QVERIFY(QDir().mkpath(QString::fromLocal8Bit(folder)));
      QVERIFY(dialog.grab().save(name));
    }
  }

  // What a screen reader reads: every control named, the choices inside
  // their groups, the password field labelled and described.
  void the_accessibility_tree_names_and_groups_every_control() {
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(dialog_.get());
    QCOMPARE(window->role(), QAccessible::Dialog);
    QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Kestrune"));

    QAccessibleInterface* field = accessible(password_field());
    QCOMPARE(field->role(), QAccessible::EditableText);
    QVERIFY(field->state().passwordEdit);
    QCOMPARE(field->text(QAccessible::Name), QStringLiteral("Password"));
    // The hint describes the field and labels it after its name, so a
    // reader says it once, with the field, not again with the window's own
    // labels as it opens and before each announcement.
    QCOMPARE(field->text(QAccessible::Description),
             QStringLiteral("* Input a password and please drag files here *"));
    const auto labels = field->relations(QAccessible::Label);
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels[0].first->text(QAccessible::Name), QStringLiteral("Password"));
    QCOMPARE(labels[1].first->text(QAccessible::Name),
             QStringLiteral("* Input a password and please drag files here *"));
    // The status line labels the bar, for the same reason.
    auto* bar = dialog_->findChild<QProgressBar*>(QStringLiteral("progress_bar"));
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    const auto bar_labels = accessible(bar)->relations(QAccessible::Label);
    QCOMPARE(bar_labels.size(), 1);
    QCOMPARE(bar_labels[0].first->object(), status_line);

    const QList<std::pair<QString, QStringList>> groups{
        {"Hash", {"SHA1", "SHA256", "SHA384", "SHA512", "MD5"}},
        {"Algorithm", {"DES", "3DES", "AES128", "AES192", "AES256"}}};
    for (const auto& [title, choices] : groups) {
      QGroupBox* box = group_box(title);
      QAccessibleInterface* group = accessible(box);
      QCOMPARE(group->role(), QAccessible::Grouping);
      QCOMPARE(group->text(QAccessible::Name), title);
      QCOMPARE(group->parent()->object(), dialog_.get());
      QStringList names;
      for (int i = 0; i < group->childCount(); ++i) {
        QAccessibleInterface* choice = group->child(i);
        QCOMPARE(choice->role(), QAccessible::RadioButton);
        QCOMPARE(choice->parent()->object(), box);
        // The group is heard as the focus enters it, not with every choice.
        QVERIFY(choice->relations(QAccessible::Label).isEmpty());
        QVERIFY(choice->state().checkable);
        names << choice->text(QAccessible::Name);
      }
      QCOMPARE(names, choices);
    }

    auto* progress_bar = dialog_->findChild<QProgressBar*>(QStringLiteral("progress_bar"));
    QCOMPARE(accessible(progress_bar)->text(QAccessible::Name), QStringLiteral("Progress"));
    const auto all_labels = dialog_->findChildren<QLabel*>();
    const auto icon = std::find_if(all_labels.begin(), all_labels.end(),
                                   [](QLabel* label) { return !label->pixmap().isNull(); });
    QCOMPARE(accessible(*icon)->text(QAccessible::Name), QStringLiteral("Kestrune"));
  }

  // What Qt's line edit reports as the password changes (the end-to-end
  // test types, deletes and pastes while listening to the bus): every text
  // leaves as mask characters, one per character, so a listener still
  // hears each key; reads of the field give masks too.
  void the_password_leaves_the_process_as_mask_characters_only() {
    QLineEdit* field = password_field();
    const QString mask(qt::mask_character(*field));
    QVERIFY(mask != QStringLiteral("S"));
    const auto texts_of = [](QAccessibleEvent& event) {
      const std::unique_ptr<QAccessibleEvent> sent = qt::masked_copy(event);
      if (!sent) return QStringList{QStringLiteral("unmasked")};
      switch (sent->type()) {
        case QAccessible::TextInserted:
          return QStringList{static_cast<QAccessibleTextInsertEvent&>(*sent).textInserted()};
        case QAccessible::TextRemoved:
          return QStringList{static_cast<QAccessibleTextRemoveEvent&>(*sent).textRemoved()};
        case QAccessible::TextUpdated:
          return QStringList{static_cast<QAccessibleTextUpdateEvent&>(*sent).textRemoved(),
                             static_cast<QAccessibleTextUpdateEvent&>(*sent).textInserted()};
        default:
          return QStringList{static_cast<QAccessibleValueChangeEvent&>(*sent).value().toString()};
      }
    };
    QAccessibleTextInsertEvent typed(field, 3, QStringLiteral("r"));
    QCOMPARE(texts_of(typed), QStringList{mask});
    QAccessibleTextInsertEvent pasted(field, 0, QStringLiteral("S3cr#t"));
    QCOMPARE(texts_of(pasted), QStringList{mask.repeated(6)});
    QAccessibleTextRemoveEvent erased(field, 0, QStringLiteral("S3cr#t"));
    QCOMPARE(texts_of(erased), QStringList{mask.repeated(6)});
    QAccessibleTextUpdateEvent replaced(field, 0, QStringLiteral("old"), QStringLiteral("newer"));
    QCOMPARE(texts_of(replaced), (QStringList{mask.repeated(3), mask.repeated(5)}));
    field->setText(QStringLiteral("S3cr#t"));
    QAccessibleValueChangeEvent value(field, QStringLiteral("S3cr#t"));
    QCOMPARE(texts_of(value), QStringList{mask.repeated(6)});
    // Not a password field: its events leave as they are.
    QLineEdit plain;
    QAccessibleTextInsertEvent plain_text(&plain, 0, QStringLiteral("visible"));
    QCOMPARE(texts_of(plain_text), QStringList{QStringLiteral("unmasked")});

    QAccessibleInterface* accessible_field = accessible(field);
    QAccessibleTextInterface* text = accessible_field->textInterface();
    QVERIFY(text != nullptr);
    QCOMPARE(text->characterCount(), 6);
    QCOMPARE(text->text(0, 6), mask.repeated(6));
    QCOMPARE(text->text(2, 99), mask.repeated(4));
    QCOMPARE(accessible_field->text(QAccessible::Value), mask.repeated(6));
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(3, QAccessible::LineBoundary, &start, &end), mask.repeated(6));
    QVERIFY(accessible_field->state().passwordEdit);
    QVERIFY(accessible_field->state().editable);
  }

  // A screen reader hears the status line by its accessible name, which
  // changes when a file starts, fails or the last one ends; it leaves the
  // percentages out, which change too often to be read.
  void the_status_line_is_announced_when_files_start_fail_and_end() {
    core_->hold("/data/big&.iso");
    core_->fail("/data/bad.txt", kCantReadSource);
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    const auto announced = [status_line] {
      return accessible(status_line)->text(QAccessible::Name);
    };
    QVERIFY(drop_urls(*dialog_, {local("/data/big&.iso"), local("/data/bad.txt")}));
    // The line labels the bar: an ampersand must not become a shortcut key.
    QTRY_COMPARE_WITH_TIMEOUT(status_line->text(),
                              QStringLiteral("big&&.iso \u2014 50% \u2014 1 of 2"), kTimeoutMs);
    QCOMPARE(announced(), QStringLiteral("big&.iso \u2014 1 of 2"));
    core_->release();
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(announced(), QStringLiteral("bad.txt \u2014 Can't read source file."));
    close_failure_box();
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QVERIFY(announced().isEmpty());
  }

  // Heard wherever the focus is: a batch's start, each failure with its
  // file, and its end, once each; drops that arrive meanwhile join the batch.
  void a_batch_is_announced_at_its_start_each_failure_and_its_end() {
    AnnouncementRecorder recorder(dialog_->findChild<qt::Announcer*>());
    core_->hold("/data/a.txt");
    core_->fail("/data/b.txt.enc", kCantDecryptData);
    QVERIFY(drop_urls(*dialog_, {local("/data/a.txt"), local("/data/b.txt.enc")}));
    QTRY_VERIFY_WITH_TIMEOUT(core_->is_converting("/data/a.txt"), kTimeoutMs);
    QVERIFY(drop_urls(*dialog_, {local("/data/c.txt")}));
    core_->release();
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(shown_failure_box()->windowTitle(), QStringLiteral("Decrypt ERROR"));
    QCOMPARE(shown_failure_box()->text(), QStringLiteral("Can't Data Decryption"));
    QCOMPARE(shown_failure_box()->informativeText(), QStringLiteral("b.txt.enc"));
    const int caption_width = QFontMetrics(shown_failure_box()->font())
                                  .horizontalAdvance(QStringLiteral("Decrypt ERROR"));
    QVERIFY(shown_failure_box()->width() > caption_width * 2);
    close_failure_box();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.heard().size(), 3, kTimeoutMs);
    QCOMPARE(recorder.heard(),
             (QStringList{"Converting 2 files", "b.txt.enc failed: Can't Data Decryption",
                          "1 of 3 failed"}));

    QVERIFY(drop_urls(*dialog_, {local("/data/d.txt"), local("/data/e.txt")}));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.heard().size(), 5, kTimeoutMs);
    QCOMPARE(recorder.heard().mid(3), (QStringList{"Converting 2 files", "2 files converted"}));
    QTest::qWait(50);
    QCOMPARE(recorder.heard().size(), 5);
  }

  // Linux desktops expect every control to be reachable from the keyboard.
  void tab_visits_the_field_the_checked_choices_and_quit() {
    const QStringList expected{"password_field", "SHA256", "AES256", "QUIT", "password_field"};
    QStringList forward{focused_name()};
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      forward << focused_name();
    }
    QCOMPARE(forward, expected);
    // Entering the field does not select its hidden text, which a screen
    // reader would announce as "selected" and "unselected".
    QVERIFY(!password_field()->text().isEmpty());
    QVERIFY(!password_field()->hasSelectedText());
    QStringList backward{focused_name()};
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
      backward << focused_name();
    }
    std::reverse(backward.begin(), backward.end());
    QCOMPARE(backward, expected);
  }

  void arrow_keys_and_space_choose_for_the_next_file() {
    QTest::keyClick(password_field(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(focused_name(), QStringLiteral("SHA384"));
    QVERIFY(button("SHA384")->isChecked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(dialog_->choices().hash(), HashAlgorithm::sha1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(dialog_->choices().cipher(), CipherAlgorithm::aes192);
    // The moved choices are the tab stops now.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focused_name(), QStringLiteral("AES192"));
    QVERIFY(drop_urls(*dialog_, {local("/data/a.txt")}));
    QTRY_COMPARE_WITH_TIMEOUT(core_->calls().size(), std::size_t{1}, kTimeoutMs);
    QCOMPARE(core_->calls()[0].hash, HashAlgorithm::sha1);
    QCOMPARE(core_->calls()[0].cipher, CipherAlgorithm::aes192);

    QTest::keyClick(button("DES"), Qt::Key_Space);
    QCOMPARE(dialog_->choices().cipher(), CipherAlgorithm::des);
    QVERIFY(button("DES")->isChecked());
  }

  void radio_buttons_set_the_choices() {
    for (const HashAlgorithm hash : kAllHashes) {
      QTest::mouseClick(button(label(hash).data()), Qt::LeftButton);
      QCOMPARE(dialog_->choices().hash(), hash);
    }
    for (const CipherAlgorithm cipher : kAllCiphers) {
      QTest::mouseClick(button(label(cipher).data()), Qt::LeftButton);
      QCOMPARE(dialog_->choices().cipher(), cipher);
    }
    // The groups are independent: the last click in each stays checked.
    QVERIFY(button("MD5")->isChecked());
    QVERIFY(button("AES256")->isChecked());
    QVERIFY(!button("SHA512")->isChecked());
  }

  void a_drop_hands_the_password_and_the_ordered_paths_to_the_core() {
    const QString password = QStringLiteral("p\u00e4ssw\u00f6rd \u2713");
    password_field()->setText(password);
    QVERIFY(drop_urls(*dialog_, {local("/data/z last.txt"), local("/data/r\u00e9sum\u00e9.txt.enc"),
                                 local("/data/a first.txt")}));

    QTRY_COMPARE_WITH_TIMEOUT(core_->calls().size(), std::size_t{3}, kTimeoutMs);
    QCOMPARE(core_->converted_paths(),
             (Paths{"/data/z last.txt", "/data/r\u00e9sum\u00e9.txt.enc", "/data/a first.txt"}));
    for (const auto& call : core_->calls()) QCOMPARE(call.password, password.toStdU16String());
  }

  void a_drop_on_the_password_field_is_a_file_drop() {
    const std::unique_ptr<QMimeData> data(file_manager_drag({local("/data/report.txt")}));
    QVERIFY(drop_on(*dialog_, password_field()->geometry().center(), *data));
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), Paths{"/data/report.txt"}, kTimeoutMs);
    QCOMPARE(password_field()->text(), kTestPassword);
  }

  void drags_without_files_are_refused() {
    QMimeData text;
    text.setText(QStringLiteral("/data/report.txt"));
    QVERIFY(!drop_on(*dialog_, dialog_->rect().center(), text));
    QVERIFY(!drop_on(*dialog_, password_field()->geometry().center(), text));
    QTest::qWait(50);
    QVERIFY(core_->calls().empty());
    QCOMPARE(password_field()->text(), kTestPassword);
  }

  void items_that_are_not_local_files_get_the_cant_open_message_of_their_direction() {
    QVERIFY(drop_urls(*dialog_, {QUrl("https://example.com/notes.txt"), local("/data/local.txt"),
                                 QUrl("sftp://host/backup.tar.enc"),
                                 QUrl("file://otherhost/share/plan.txt.enc")}));
    for (const char* text :
         {"Can't open source file.", "Can't open encrypted file.", "Can't open encrypted file."}) {
      QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
      QCOMPARE(shown_failure_box()->text(), QString::fromUtf8(text));
      QCOMPARE(shown_failure_box()->windowTitle(), QStringLiteral("File open ERROR"));
      close_failure_box();
    }
    QCOMPARE(core_->converted_paths(), Paths{"/data/local.txt"});
  }

  // A local name is the exact bytes the address encodes, whatever their
  // encoding; what cannot be turned into one exact local name is refused.
  void addresses_decode_to_exact_local_names_data() {
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<bool>("local");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("plain") << QByteArray("file:///data/a.txt") << true << QByteArray("/data/a.txt");
    QTest::newRow("Latin-1 byte, as GIO encodes it")
        << QByteArray("file:///data/caf%E9.txt") << true << QByteArray("/data/caf\xE9.txt");
    QTest::newRow("UTF-8, lower-case escapes")
        << QByteArray("file:///data/caf%c3%a9.txt") << true << QByteArray("/data/caf\xC3\xA9.txt");
    QTest::newRow("raw bytes as they are")
        << QByteArray("file:///data/caf\xE9 x.txt") << true << QByteArray("/data/caf\xE9 x.txt");
    QTest::newRow("%25 and %23") << QByteArray("file:///data/100%25 a%232.txt") << true
                                 << QByteArray("/data/100% a#2.txt");
    QTest::newRow("localhost") << QByteArray("file://localhost/data/a.txt") << true
                               << QByteArray("/data/a.txt");
    QTest::newRow("LOCALHOST") << QByteArray("FILE://LocalHost/data/a.txt") << true
                               << QByteArray("/data/a.txt");
    QTest::newRow("no authority") << QByteArray("file:/data/a.txt") << true
                                  << QByteArray("/data/a.txt");
    // Refused: the path part is kept only for the message's direction.
    QTest::newRow("unencoded #") << QByteArray("file:///data/a#2.txt") << false
                                 << QByteArray("/data/a");
    QTest::newRow("unencoded ?") << QByteArray("file:///data/a?.txt.enc") << false
                                 << QByteArray("/data/a");
    QTest::newRow("another host") << QByteArray("file://server/data/a.txt.enc") << false
                                  << QByteArray("/data/a.txt.enc");
    QTest::newRow("relative") << QByteArray("file:data/a.txt") << false << QByteArray("data/a.txt");
    QTest::newRow("empty path") << QByteArray("file://") << false << QByteArray();
    QTest::newRow("malformed escape")
        << QByteArray("file:///data/a%G1.txt") << false << QByteArray("/data/a%G1.txt");
    QTest::newRow("cut escape") << QByteArray("file:///data/a%E") << false
                                << QByteArray("/data/a%E");
    QTest::newRow("NUL") << QByteArray("file:///data/a%00b") << false << QByteArray("/data/a%00b");
    QTest::newRow("control character")
        << QByteArray("file:///data/a\tb") << false << QByteArray("/data/a\tb");
    QTest::newRow("web address") << QByteArray("https://example.com/notes.txt?x=1") << false
                                 << QByteArray("/notes.txt");
  }

  void addresses_decode_to_exact_local_names() {
    QFETCH(QByteArray, uri);
    QFETCH(bool, local);
    QFETCH(QByteArray, path);
    const qt::DroppedItem item =
        qt::item_from_uri({uri.constData(), static_cast<std::size_t>(uri.size())});
    QCOMPARE(item.is_local, local);
    QCOMPARE(QByteArray::fromStdString(item.path.native()), path);
  }

  // What a file manager (%U or %F) or a shell passes: paths byte for byte,
  // addresses decoded as a drop's, the rest relative to the working folder.
  void command_line_arguments_name_exact_files_data() {
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<bool>("local");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("absolute path")
        << QByteArray("/data/a b.txt") << true << QByteArray("/data/a b.txt");
    QTest::newRow("Latin-1 path, raw")
        << QByteArray("/data/caf\xE9%41.txt") << true << QByteArray("/data/caf\xE9%41.txt");
    QTest::newRow("relative path")
        << QByteArray("notes/a.txt") << true << QByteArray("/work/dir/notes/a.txt");
    QTest::newRow("colon in a relative name")
        << QByteArray("notes:v2.txt") << true << QByteArray("/work/dir/notes:v2.txt");
    QTest::newRow("file address") << QByteArray("file:///data/caf%E9.txt.enc") << true
                                  << QByteArray("/data/caf\xE9.txt.enc");
    QTest::newRow("localhost") << QByteArray("file://localhost/data/a.txt") << true
                               << QByteArray("/data/a.txt");
    QTest::newRow("another host") << QByteArray("file://server/data/a.txt") << false
                                  << QByteArray("/data/a.txt");
    QTest::newRow("ftp") << QByteArray("ftp://host/pub/x.tar.enc") << false
                         << QByteArray("/pub/x.tar.enc");
  }

  void command_line_arguments_name_exact_files() {
    QFETCH(QByteArray, argument);
    QFETCH(bool, local);
    QFETCH(QByteArray, path);
    const qt::DroppedItem item = qt::command_line_item(
        {argument.constData(), static_cast<std::size_t>(argument.size())}, "/work/dir");
    QCOMPARE(item.is_local, local);
    QCOMPARE(QByteArray::fromStdString(item.path.native()), path);
  }

  // The list as a file manager sends it: CRLF, a comment, a careless `#`.
  void a_raw_address_list_converts_exact_names_and_refuses_the_rest_once() {
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 "# from a file manager\r\nfile:///data/a#2.txt\r\n"
                 "file:///data/caf%E9.txt\r\nfile://localhost/data/b.txt\r\n");
    QVERIFY(drop_on(*dialog_, dialog_->rect().center(), data));
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(shown_failure_box()->text(), QStringLiteral("Can't open source file."));
    close_failure_box();
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), (Paths{"/data/caf\xE9.txt", "/data/b.txt"}),
                              kTimeoutMs);
    QTest::qWait(50);
    QCOMPARE(shown_failure_box(), nullptr);
  }

  // Files copied in a file manager are a drop, whichever control has the
  // focus; plain text (a password manager's) goes into the field.
  void a_paste_of_files_is_a_drop_and_of_text_goes_to_the_field_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("clipboard");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QByteArrayList>("converted");
    const QKeySequence ctrl_v(Qt::ControlModifier | Qt::Key_V);
    const QByteArrayList two{"/data/p1.txt", "/data/caf\xE9.txt.enc"};
    QTest::newRow("text/uri-list, as Dolphin copies")
        << "text/uri-list" << QByteArray("file:///data/p1.txt\r\nfile:///data/caf%E9.txt.enc\r\n")
        << "password_field" << ctrl_v << two;
    QTest::newRow("GNOME's list, as PCManFM and Nautilus copy")
        << "x-special/gnome-copied-files"
        << QByteArray("copy\nfile:///data/p1.txt\nfile:///data/caf%E9.txt.enc") << "password_field"
        << ctrl_v << two;
    QTest::newRow("a cut is a copy")
        << "x-special/gnome-copied-files" << QByteArray("cut\nfile:///data/p1.txt\n")
        << "password_field" << ctrl_v << QByteArrayList{"/data/p1.txt"};
    QTest::newRow("MATE's list, Shift+Insert")
        << "x-special/mate-copied-files" << QByteArray("copy\nfile:///data/p1.txt")
        << "password_field" << QKeySequence(Qt::ShiftModifier | Qt::Key_Insert)
        << QByteArrayList{"/data/p1.txt"};
    QTest::newRow("files, the focus on a choice")
        << "x-special/gnome-copied-files" << QByteArray("copy\nfile:///data/p1.txt") << "SHA256"
        << ctrl_v << QByteArrayList{"/data/p1.txt"};
    QTest::newRow("plain text") << "text/plain" << QByteArray(" from a manager") << "password_field"
                                << ctrl_v << QByteArrayList{};
    QTest::newRow("plain text, the focus on a choice")
        << "text/plain" << QByteArray("file:///data/p1.txt") << "SHA256" << ctrl_v
        << QByteArrayList{};
  }

  void a_paste_of_files_is_a_drop_and_of_text_goes_to_the_field() {
    QFETCH(QString, type);
    QFETCH(QByteArray, clipboard);
    QFETCH(QString, focus);
    QFETCH(QKeySequence, keys);
    QFETCH(QByteArrayList, converted);
    auto* data = new QMimeData;
    data->setData(type, clipboard);
    // File managers offer the paths as text too.
    if (type != QStringLiteral("text/plain")) data->setText(QStringLiteral("/data/p1.txt"));
    QGuiApplication::clipboard()->setMimeData(data);
    QWidget* target = password_field();
    if (focus != QStringLiteral("password_field")) target = button("SHA256");
    target->setFocus();
    QTest::keySequence(target, keys);

    Paths expected;
    for (const QByteArray& path : converted) expected.emplace_back(path.toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), expected, kTimeoutMs);
    QTest::qWait(50);
    QCOMPARE(core_->converted_paths(), expected);
    for (const auto& call : core_->calls()) QCOMPARE(call.password, kTestPassword.toStdU16String());
    const bool text_into_field = type == QStringLiteral("text/plain") && target == password_field();
    QCOMPARE(password_field()->text(),
             text_into_field ? kTestPassword + QString::fromUtf8(clipboard) : kTestPassword);
  }

  // The field's own menu: its Paste takes files as a drop too.
  void the_fields_paste_menu_takes_files_as_a_drop() {
    auto* data = new QMimeData;
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\nfile:///data/p1.txt");
    QGuiApplication::clipboard()->setMimeData(data);
    bool pasted = false;
    QTimer::singleShot(0, [&pasted] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      for (QAction* paste : menu->actions()) {
        if (!paste->text().startsWith(QStringLiteral("&Paste"))) continue;
        pasted = paste->isEnabled();
        paste->trigger();
      }
      menu->close();
    });
    const QPoint middle = password_field()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, middle,
                            password_field()->mapToGlobal(middle));
    QCoreApplication::sendEvent(password_field(), &event);
    QVERIFY(pasted);
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), Paths{"/data/p1.txt"}, kTimeoutMs);
    QCOMPARE(password_field()->text(), kTestPassword);
  }

  void an_empty_password_asks_before_encrypting_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QString>("answer");  // empty: no question is asked
    QTest::addColumn<bool>("converts");
    const QStringList mixed{"/data/a.txt", "/data/b.txt.enc"};
    QTest::newRow("No") << mixed << "No" << false;
    QTest::newRow("Enter: No is the default") << mixed << "Enter" << false;
    QTest::newRow("Escape") << mixed << "Escape" << false;
    QTest::newRow("Yes") << mixed << "Yes" << true;
    QTest::newRow("decrypting only: silent") << QStringList{"/data/b.txt.enc"} << "" << true;
  }

  void an_empty_password_asks_before_encrypting() {
    QFETCH(QStringList, dropped);
    QFETCH(QString, answer);
    QFETCH(bool, converts);
    password_field()->clear();
    QList<QUrl> urls;
    Paths paths;
    for (const QString& path : dropped) {
      urls << QUrl::fromLocalFile(path);
      paths.emplace_back(path.toStdString());
    }
    QVERIFY(drop_urls(*dialog_, urls));
    if (!answer.isEmpty()) {
      QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
      QMessageBox* question = shown_failure_box();
      QCOMPARE(question->text(), QStringLiteral("The password is empty: anyone can decrypt these "
                                                "files. Encrypt them anyway?"));
      QCOMPARE(question->defaultButton(), question->button(QMessageBox::No));
      QCOMPARE(question->buttons().size(), 2);
      QTest::qWait(50);
      QVERIFY(core_->calls().empty());
      if (answer == QStringLiteral("Yes") || answer == QStringLiteral("No"))
        QTest::mouseClick(
            question->button(answer == QStringLiteral("Yes") ? QMessageBox::Yes : QMessageBox::No),
            Qt::LeftButton);
      else
        QTest::keyClick(question,
                        answer == QStringLiteral("Enter") ? Qt::Key_Return : Qt::Key_Escape);
      QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() == nullptr, kTimeoutMs);
    }
    if (converts) {
      QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), paths, kTimeoutMs);
      for (const auto& call : core_->calls()) QVERIFY(call.password.empty());
    }
    QTest::qWait(50);
    QCOMPARE(core_->converted_paths(), converts ? paths : Paths{});
    QCOMPARE(shown_failure_box(), nullptr);
  }

  void a_failure_holds_the_next_file_until_closed_while_the_dialog_stays_usable() {
    // The dialog shows the fixed text alone, never the system's cause.
    core_->fail("/data/a.txt", kCantReadSource, std::make_error_code(std::errc::io_error));
    QVERIFY(drop_urls(*dialog_, {local("/data/a.txt"), local("/data/b.txt")}));

    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QMessageBox* box = shown_failure_box();
    QCOMPARE(box->windowTitle(), QStringLiteral("Encrypt ERROR"));
    QCOMPARE(box->text(), QStringLiteral("Can't read source file."));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons(), QList<QAbstractButton*>{box->button(QMessageBox::Ok)});
    QVERIFY(!box->isModal());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QTest::qWait(100);
    QCOMPARE(core_->calls().size(), std::size_t{1});

    // The dialog answers meanwhile; the new choices apply to the next file.
    QTest::mouseClick(button("SHA1"), Qt::LeftButton);
    QTest::mouseClick(button("3DES"), Qt::LeftButton);
    close_failure_box();
    QTRY_COMPARE_WITH_TIMEOUT(core_->calls().size(), std::size_t{2}, kTimeoutMs);
    QCOMPARE(core_->calls()[0].hash, HashAlgorithm::sha256);
    QCOMPARE(core_->calls()[1].hash, HashAlgorithm::sha1);
    QCOMPARE(core_->calls()[1].cipher, CipherAlgorithm::triple_des);
  }

  void drops_during_a_conversion_wait_their_turn_with_their_own_password() {
    core_->hold("/data/big.iso");
    password_field()->setText(QStringLiteral("first"));
    QVERIFY(drop_urls(*dialog_, {local("/data/big.iso")}));
    QTRY_VERIFY_WITH_TIMEOUT(core_->is_converting("/data/big.iso"), kTimeoutMs);
    password_field()->setText(QStringLiteral("second"));
    QVERIFY(drop_urls(*dialog_, {local("/data/b.txt"), local("/data/c.txt")}));

    auto* progress_bar = dialog_->findChild<QProgressBar*>(QStringLiteral("progress_bar"));
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    QTRY_COMPARE_WITH_TIMEOUT(status_line->text(),
                              QStringLiteral("big.iso \u2014 50% \u2014 1 of 3"), kTimeoutMs);
    // The bar covers the batch: half of the first of three files.
    QCOMPARE(progress_bar->value(), 16);
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::qWait(50);
    QCOMPARE(core_->calls().size(), std::size_t{1});

    core_->release();
    QTRY_COMPARE_WITH_TIMEOUT(core_->calls().size(), std::size_t{3}, kTimeoutMs);
    QCOMPARE(core_->converted_paths(), (Paths{"/data/big.iso", "/data/b.txt", "/data/c.txt"}));
    QCOMPARE(core_->calls()[0].password, u"first");
    QCOMPARE(core_->calls()[1].password, u"second");
    QCOMPARE(core_->calls()[2].password, u"second");
    QVERIFY(!core_->overlapped());
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QCOMPARE(progress_bar->value(), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  // However many files convert while the window is busy, the worker leaves
  // it one update to catch up with, not one per file, besides the batch's
  // start and end: the window's queue stays short and a key pressed
  // meanwhile is answered at once.
  void a_large_drop_leaves_one_update_however_many_files_converted() {
    constexpr int kFiles = 2000;
    QList<QUrl> urls;
    for (int i = 0; i < kFiles; ++i) urls << local(("/data/f" + std::to_string(i)).c_str());
    QVERIFY(drop_urls(*dialog_, urls));
    // Not a QTRY: the window must not take its events meanwhile.
    for (int waited = 0; core_->calls().size() < kFiles && waited < kTimeoutMs; ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QCOMPARE(core_->calls().size(), std::size_t{kFiles});

    MetaCallCounter updates(dialog_.get());
    QCoreApplication::processEvents();
    QVERIFY2(updates.count() <= 4, qPrintable(QString::number(updates.count())));
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  // Nothing converts before the password is typed and Enter pressed; then
  // everything waiting converts in order, with the password and choices of
  // that moment, an address that is not local refused as in a drop.
  void files_from_the_command_line_wait_for_the_password_and_enter() {
    password_field()->clear();
    dialog_->take_command_line_files({}, {{"/data/a.txt"}, {"/pub/x.tar.enc", false}});
    dialog_->take_command_line_files({}, {{"/data/b.txt.enc"}});
    QCOMPARE(status_line()->text(),
             QStringLiteral("3 files waiting: type the password, then press Enter"));
    QCOMPARE(accessible(status_line())->text(QAccessible::Name), status_line()->text());
    QVERIFY(status_line()->heightForWidth(status_line()->width()) <= status_line()->height());
    QSignalSpy finished(dialog_.get(), &QDialog::finished);
    QTest::keyClick(password_field(), Qt::Key_Return);
    QTest::qWait(50);
    QVERIFY(core_->calls().empty());
    QCOMPARE(finished.size(), 0);

    QTest::keyClicks(password_field(), QStringLiteral("secret"));
    QTest::mouseClick(button("SHA1"), Qt::LeftButton);
    QTest::keyClick(password_field(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(shown_failure_box()->text(), QStringLiteral("Can't open encrypted file."));
    close_failure_box();
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), (Paths{"/data/a.txt", "/data/b.txt.enc"}),
                              kTimeoutMs);
    for (const auto& call : core_->calls()) {
      QCOMPARE(call.password, u"secret");
      QCOMPARE(call.hash, HashAlgorithm::sha1);
    }
    QCOMPARE(finished.size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(status_line()->text().isEmpty(), kTimeoutMs);
  }

  void a_drop_while_files_wait_joins_the_queue_after_them() {
    password_field()->clear();
    dialog_->take_command_line_files({}, {{"/data/a.txt"}});
    QVERIFY(drop_urls(*dialog_, {local("/data/b.txt"), local("/data/c.txt")}));
    QCOMPARE(status_line()->text(),
             QStringLiteral("3 files waiting: type the password, then press Enter"));
    QTest::qWait(50);
    QVERIFY(core_->calls().empty());
    QTest::keyClicks(password_field(), QStringLiteral("secret"));
    QTest::keyClick(button("SHA256"), Qt::Key_Enter);
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(),
                              (Paths{"/data/a.txt", "/data/b.txt", "/data/c.txt"}), kTimeoutMs);
  }

  // A later launch's files during a batch are a drop during it.
  void files_handed_over_during_a_batch_join_its_queue() {
    core_->hold("/data/big.iso");
    password_field()->setText(QStringLiteral("secret"));
    QVERIFY(drop_urls(*dialog_, {local("/data/big.iso")}));
    QTRY_VERIFY_WITH_TIMEOUT(core_->is_converting("/data/big.iso"), kTimeoutMs);
    dialog_->take_command_line_files({}, {{"/data/late.txt"}});
    core_->release();
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), (Paths{"/data/big.iso", "/data/late.txt"}),
                              kTimeoutMs);
    QCOMPARE(core_->calls()[1].password, u"secret");
  }

  // File managers start one process per file at once: each hands its file
  // to the one window, which keeps them in the order they were started.
  void twenty_launches_at_once_leave_one_window_with_every_file_waiting_in_order() {
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(
        runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString socket_path = runtime.path() + QStringLiteral("/kestrune.socket");
    qt::InstanceChannel channel(socket_path);
    QVERIFY(!channel.hand_over_or_listen({qt::this_launch_order(), {}}));
    QVERIFY(channel.is_listening());
    channel.receive_with([this](qt::Handover handover) {
      dialog_->take_command_line_files(handover.order, std::move(handover.items));
    });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    constexpr int kLaunches = 20;
    std::vector<std::unique_ptr<QProcess>> launches;
    Paths expected;
    for (int i = 0; i < kLaunches; ++i) {
      const QString file = QStringLiteral("/data/f%1.txt").arg(i, 2, 10, QLatin1Char('0'));
      expected.emplace_back(file.toStdString());
      launches.push_back(std::make_unique<QProcess>());
      launches.back()->setProcessEnvironment(environment);
      launches.back()->start(QStringLiteral(KESTRUNE_PROGRAM), {file});
    }
    for (auto& launch : launches) {
      QTRY_VERIFY_WITH_TIMEOUT(launch->state() == QProcess::NotRunning, 60000);
      QCOMPARE(launch->exitStatus(), QProcess::NormalExit);
      QVERIFY2(launch->exitCode() == 0, launch->readAllStandardError().constData());
    }
    QCOMPARE(status_line()->text(),
             QStringLiteral("20 files waiting: type the password, then press Enter"));
    QTest::keyClicks(password_field(), QStringLiteral("secret"));
    QTest::keyClick(password_field(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths(), expected, kTimeoutMs);
  }

  // Anyone who can reach the socket can hand files to the window: only a
  // runtime folder of this user's alone will do, else each launch keeps
  // its own window.
  void the_socket_lives_only_in_a_runtime_folder_of_this_user_alone_data() {
    QTest::addColumn<QString>("folder");  // "%1": a scratch folder; empty: unset
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("usable");
    QTest::newRow("private") << QStringLiteral("%1") << 0700 << true;
    QTest::newRow("readable by others") << QStringLiteral("%1") << 0755 << false;
    QTest::newRow("open to the group") << QStringLiteral("%1") << 0710 << false;
    QTest::newRow("unset") << QString() << 0700 << false;
    QTest::newRow("relative") << QStringLiteral("runtime") << 0700 << false;
    QTest::newRow("missing") << QStringLiteral("%1/gone") << 0700 << false;
  }

  void the_socket_lives_only_in_a_runtime_folder_of_this_user_alone() {
    QFETCH(QString, folder);
    QFETCH(int, mode);
    QFETCH(bool, usable);
    QTemporaryDir scratch;
    QCOMPARE(::chmod(QFile::encodeName(scratch.path()).constData(), static_cast<mode_t>(mode)), 0);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime =
        folder.contains(QLatin1String("%1")) ? folder.arg(scratch.path()) : folder;
    if (runtime.isEmpty())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const std::optional<QString> path = qt::user_socket_path();
    qputenv("XDG_RUNTIME_DIR", saved);
    QCOMPARE(path.has_value(), usable);
    if (usable) QCOMPARE(*path, scratch.path() + QStringLiteral("/kestrune.socket"));
  }

  // Whatever else reaches the socket is dropped unanswered, and files wait
  // only when a whole message of ours has arrived.
  void the_window_refuses_what_is_not_a_launch() {
    QTemporaryDir runtime;
    qt::InstanceChannel channel(runtime.path() + QStringLiteral("/kestrune.socket"));
    QVERIFY(!channel.hand_over_or_listen({}));
    int received = 0;
    channel.receive_with([&received](qt::Handover) { ++received; });
    QLocalSocket stranger;
    stranger.connectToServer(runtime.path() + QStringLiteral("/kestrune.socket"));
    QVERIFY(stranger.waitForConnected(kTimeoutMs));
    stranger.write(QByteArray("GET / HTTP/1.0\r\n\r\n").repeated(4));
    QTRY_COMPARE_WITH_TIMEOUT(stranger.state(), QLocalSocket::UnconnectedState, kTimeoutMs);
    QCOMPARE(stranger.bytesAvailable(), 0);
    QCOMPARE(received, 0);
    QVERIFY(status_line()->text().isEmpty());
  }

  void quitting_with_files_waiting_converts_none_of_them_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("QUIT") << QStringLiteral("quit");
  }

  void quitting_with_files_waiting_converts_none_of_them() {
    QFETCH(QString, way);
    dialog_->take_command_line_files({}, {{"/data/a.txt"}});
    QTest::keyClicks(password_field(), QStringLiteral("secret"));
    QSignalSpy finished(dialog_.get(), &QDialog::finished);
    if (way == QStringLiteral("escape"))
      QTest::keyClick(password_field(), Qt::Key_Escape);
    else
      QTest::mouseClick(button("QUIT"), Qt::LeftButton);
    QCOMPARE(finished.size(), 1);
    QTest::qWait(50);
    QVERIFY(core_->calls().empty());
  }

  void every_way_out_ends_the_dialog_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("Enter in the password field") << QStringLiteral("enter");
    QTest::newRow("Enter on a choice") << QStringLiteral("enter on a choice");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("QUIT") << QStringLiteral("quit");
    QTest::newRow("close box") << QStringLiteral("close");
  }

  void every_way_out_ends_the_dialog() {
    QFETCH(QString, way);
    QSignalSpy finished(dialog_.get(), &QDialog::finished);
    QTest::keyClicks(password_field(), QStringLiteral("secret"));
    if (way == QStringLiteral("enter"))
      QTest::keyClick(password_field(), Qt::Key_Return);
    else if (way == QStringLiteral("enter on a choice"))
      QTest::keyClick(button("SHA256"), Qt::Key_Return);
    else if (way == QStringLiteral("escape"))
      QTest::keyClick(password_field(), Qt::Key_Escape);
    else if (way == QStringLiteral("quit"))
      QTest::mouseClick(button("QUIT"), Qt::LeftButton);
    else
      dialog_->windowHandle()->close();
    QCOMPARE(finished.size(), 1);
    QVERIFY(!dialog_->isVisible());
  }

  void quitting_cancels_the_conversion_and_forgets_the_queue_data() {
    QTest::addColumn<bool>("while_failure_shown");
    QTest::addColumn<int>("signal");  // 0: QUIT is clicked
    QTest::newRow("while a file converts") << false << 0;
    QTest::newRow("while a failure is shown") << true << 0;
    // A logout sends SIGTERM; Ctrl-C in the terminal that started it, SIGINT.
    QTest::newRow("SIGTERM while a file converts") << false << SIGTERM;
    QTest::newRow("SIGINT while a file converts") << false << SIGINT;
    QTest::newRow("SIGHUP while a failure is shown") << true << SIGHUP;
  }

  // The core abandons a cancelled file safely (its own tests check the
  // files); here: quitting, or a signal, cancels the file converting and
  // nothing queued starts, also while a failure is shown.
  void quitting_cancels_the_conversion_and_forgets_the_queue() {
    QFETCH(bool, while_failure_shown);
    QFETCH(int, signal);
    if (while_failure_shown)
      core_->fail("/data/big.iso", kCantOpenSource);
    else
      core_->hold("/data/big.iso");
    QVERIFY(drop_urls(*dialog_, {local("/data/big.iso"), local("/data/b.txt")}));
    QVERIFY(drop_urls(*dialog_, {local("/data/queued.txt")}));
    if (while_failure_shown)
      QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    else
      QTRY_VERIFY_WITH_TIMEOUT(core_->is_converting("/data/big.iso"), kTimeoutMs);

    QSignalSpy finished(dialog_.get(), &QDialog::finished);
    if (signal == 0)
      QTest::mouseClick(button("QUIT"), Qt::LeftButton);
    else
      // To this thread: QTest's watchdog thread takes the process's signals.
      QCOMPARE(pthread_kill(pthread_self(), signal), 0);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kTimeoutMs);
    // 128 + the signal's number says it was not a normal quit.
    QCOMPARE(termination_.exit_status(), signal == 0 ? 0 : 128 + signal);
    QCOMPARE(core_->was_cancelled(), !while_failure_shown);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() == nullptr, kTimeoutMs);
    QTest::qWait(50);
    QCOMPARE(core_->converted_paths(), Paths{"/data/big.iso"});
  }

 private:
  QLineEdit* password_field() {
    return dialog_->findChild<QLineEdit*>(QStringLiteral("password_field"));
  }
  QLabel* status_line() { return dialog_->findChild<QLabel*>(QStringLiteral("status_line")); }
  QAbstractButton* button(const char* text) {
    return button_labelled(*dialog_, QString::fromUtf8(text));
  }

  QGroupBox* group_box(const QString& title) {
    for (auto* box : dialog_->findChildren<QGroupBox*>())
      if (box->title() == title) return box;
    return nullptr;
  }
  static QAccessibleInterface* accessible(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
  }
  // The focused control by its text, or the password field by its name.
  static QString focused_name() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* button = qobject_cast<QAbstractButton*>(focus)) return button->text();
    return focus != nullptr ? focus->objectName() : QString();
  }

  static void close_failure_box() {
    QMessageBox* box = shown_failure_box();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != box, kTimeoutMs);
  }

  qt::Termination& termination_;
  QString password_on_opening_;
  std::unique_ptr<FileSystem> file_system_ = make_native_file_system();
  std::unique_ptr<ScriptedCore> core_;
  std::unique_ptr<qt::MainDialog> dialog_;
};

}  // namespace kestrune::test

// The offscreen platform unless another is asked for, so no display is needed.
int main(int argc, char** argv) {
  kestrune::qt::Termination termination;  // before any thread starts, as in the application
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  kestrune::qt::keep_passwords_off_accessibility();
  kestrune::test::MainDialogTest test(termination);
  return QTest::qExec(&test, argc, argv);
}

#include "main_dialog_test.moc"
