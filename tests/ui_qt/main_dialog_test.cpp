// The dialog in-process, on the offscreen platform: its window and choices,
// how drops reach the core, the queue, failure messages and quitting.
#include <QAbstractButton>
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
#include <memory>

#include "algorithms.h"
#include "dialog_driver.h"
#include "messages.h"
#include "qt/main_dialog.h"
#include "scripted_core.h"
#include "services.h"

namespace kestrune::test {
namespace {

constexpr int kTimeoutMs = 5000;

QUrl local(const char* path) { return QUrl::fromLocalFile(QString::fromUtf8(path)); }

using Paths = std::vector<std::filesystem::path>;

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    set_hash_choice(HashAlgorithm::md5);
    set_cipher_choice(CipherAlgorithm::des);
    core_ = std::make_unique<ScriptedCore>();
    dialog_ = std::make_unique<qt::MainDialog>(*file_system_, core_->converter());
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
  }

  void cleanup() {
    dialog_.reset();
    core_.reset();
  }

  void opens_with_the_template_controls_and_defaults() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(hash_choice(), HashAlgorithm::sha256);
    QCOMPARE(cipher_choice(), CipherAlgorithm::aes256);
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
    QStringList expected{"Password", "* Input a password and please drag files here *", "Hash",
                         "Algorithm", "SHA1", "SHA256", "SHA384", "SHA512", "MD5", "DES", "3DES",
                         "AES128", "AES192", "AES256", "Ver.1.0.4", "QUIT"};
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
      QVERIFY2(dialog_->rect().contains(control->geometry()), qPrintable(text));
    }
  }

  void radio_buttons_set_the_choices() {
    for (const HashAlgorithm hash : kAllHashes) {
      QTest::mouseClick(button(label(hash).data()), Qt::LeftButton);
      QCOMPARE(hash_choice(), hash);
    }
    for (const CipherAlgorithm cipher : kAllCiphers) {
      QTest::mouseClick(button(label(cipher).data()), Qt::LeftButton);
      QCOMPARE(cipher_choice(), cipher);
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

  void a_failure_holds_the_next_file_until_closed_while_the_dialog_stays_usable() {
    core_->fail("/data/a.txt", kCantReadSource);
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
    QTRY_COMPARE_WITH_TIMEOUT(status_line->text(), QStringLiteral("big.iso \u2014 50% \u2014 1 of 3"),
                              kTimeoutMs);
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

  void every_way_out_ends_the_dialog_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("Enter in the password field") << QStringLiteral("enter");
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
    QTest::newRow("while a file converts") << false;
    QTest::newRow("while a failure is shown") << true;
  }

  // The core abandons a cancelled file safely (its own tests check the
  // files); here: quitting cancels the file converting and nothing queued
  // starts, also while a failure is shown.
  void quitting_cancels_the_conversion_and_forgets_the_queue() {
    QFETCH(bool, while_failure_shown);
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
    QTest::mouseClick(button("QUIT"), Qt::LeftButton);
    QCOMPARE(finished.size(), 1);
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

  static void close_failure_box() {
    QMessageBox* box = shown_failure_box();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != box, kTimeoutMs);
  }

  std::unique_ptr<FileSystem> file_system_ = make_native_file_system();
  std::unique_ptr<ScriptedCore> core_;
  std::unique_ptr<qt::MainDialog> dialog_;
};

}  // namespace kestrune::test

// The offscreen platform unless another is asked for, so no display is needed.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  kestrune::test::MainDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_dialog_test.moc"
