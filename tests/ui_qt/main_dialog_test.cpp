// The dialog in-process, on the offscreen platform: its window and choices,
// how drops reach the core, the queue, failure messages and quitting.
#include <pthread.h>
#include <signal.h>
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
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
#include "ui/qt/dropped_uri.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/termination.h"

namespace kestrune::test {
namespace {

constexpr int kTimeoutMs = 5000;

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
    QVERIFY(password_field()->text().isEmpty());
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
    QCOMPARE(field->text(QAccessible::Description),
             QStringLiteral("* Input a password and please drag files here *"));
    const auto labels = field->relations(QAccessible::Label);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels[0].first->text(QAccessible::Name), QStringLiteral("Password"));

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

  // A screen reader hears the status line by its accessible name, which
  // changes when a file starts, fails or the last one ends; it leaves the
  // percentages out, which change too often to be read.
  void the_status_line_is_announced_when_files_start_fail_and_end() {
    core_->hold("/data/big.iso");
    core_->fail("/data/bad.txt", kCantReadSource);
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    const auto announced = [status_line] {
      return accessible(status_line)->text(QAccessible::Name);
    };
    QVERIFY(drop_urls(*dialog_, {local("/data/big.iso"), local("/data/bad.txt")}));
    QTRY_COMPARE_WITH_TIMEOUT(status_line->text(),
                              QStringLiteral("big.iso \u2014 50% \u2014 1 of 2"), kTimeoutMs);
    QCOMPARE(announced(), QStringLiteral("big.iso \u2014 1 of 2"));
    core_->release();
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(announced(), QStringLiteral("bad.txt \u2014 Can't read source file."));
    close_failure_box();
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QVERIFY(announced().isEmpty());
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
    QVERIFY(password_field()->text().isEmpty());
  }

  void drags_without_files_are_refused() {
    QMimeData text;
    text.setText(QStringLiteral("/data/report.txt"));
    QVERIFY(!drop_on(*dialog_, dialog_->rect().center(), text));
    QVERIFY(!drop_on(*dialog_, password_field()->geometry().center(), text));
    QTest::qWait(50);
    QVERIFY(core_->calls().empty());
    QVERIFY(password_field()->text().isEmpty());
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
    QCOMPARE(progress_bar->value(), 50);
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
  // it one update to catch up with, not one per file: the window's queue
  // stays short and a key pressed meanwhile is answered at once.
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
    QVERIFY2(updates.count() <= 2, qPrintable(QString::number(updates.count())));
    auto* status_line = dialog_->findChild<QLabel*>(QStringLiteral("status_line"));
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
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
  kestrune::test::MainDialogTest test(termination);
  return QTest::qExec(&test, argc, argv);
}

#include "main_dialog_test.moc"
