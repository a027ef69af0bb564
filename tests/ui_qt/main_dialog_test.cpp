// The window, the choices, how drops reach the core and how the dialog ends.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>

#include "algorithms.h"
#include "dialog_driver.h"
#include "file_system.h"
#include "main_dialog.h"
#include "scripted_core.h"

namespace kestrune::qt::testing {
namespace {

constexpr int kTimeoutMs = 5000;

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    core_ = std::make_unique<ScriptedCore>();
    dialog_ = std::make_unique<MainDialog>(*file_system_, core_->converter());
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
  }

  void cleanup() {
    dialog_.reset();
    core_.reset();
  }

  void opens_with_the_template_controls_and_defaults() {
    set_hash_choice(HashAlgorithm::md5);
    set_cipher_choice(CipherAlgorithm::des);
    MainDialog dialog(*file_system_, core_->converter());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(hash_choice(), HashAlgorithm::sha256);
    QCOMPARE(cipher_choice(), CipherAlgorithm::aes256);
    QVERIFY(button_labelled(dialog, QStringLiteral("SHA256"))->isChecked());
    QVERIFY(button_labelled(dialog, QStringLiteral("AES256"))->isChecked());

    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("password_field"));
    QCOMPARE(QApplication::focusWidget(), password);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QVERIFY(password->text().isEmpty());
    QVERIFY(qobject_cast<QPushButton*>(button_labelled(dialog, QStringLiteral("QUIT")))->isDefault());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!dialog.windowIcon().isNull());

    QStringList texts;
    for (auto* label : dialog.findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts << label->text();
    for (auto* group : dialog.findChildren<QGroupBox*>()) texts << group->title();
    for (auto* button : dialog.findChildren<QAbstractButton*>()) texts << button->text();
    texts.sort();
    QStringList expected{"Password", "* Input a password and please drag files here *", "Hash",
                         "Algorithm", "SHA1", "SHA256", "SHA384", "SHA512", "MD5", "DES", "3DES",
                         "AES128", "AES192", "AES256", "Ver.1.0.4", "QUIT"};
    expected.sort();
    QCOMPARE(texts, expected);
  }

  void shows_the_icon_and_every_text_whole() {
    const auto labels = dialog_->findChildren<QLabel*>();
    const bool shows_icon = std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
      return !label->pixmap().isNull();
    });
    QVERIFY2(shows_icon, "the icon resource did not load");
    for (QWidget* control : dialog_->findChildren<QWidget*>()) {
      const QString text = control->property("text").toString();
      if (text.isEmpty()) continue;
      QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(text));
      QVERIFY2(dialog_->rect().contains(control->geometry()), qPrintable(text));
    }
  }

  void radio_buttons_set_the_choices() {
    for (const HashAlgorithm hash : kAllHashes) {
      QTest::mouseClick(button_labelled(*dialog_, QString::fromLatin1(label(hash).data())), Qt::LeftButton);
      QCOMPARE(hash_choice(), hash);
    }
    for (const CipherAlgorithm cipher : kAllCiphers) {
      QTest::mouseClick(button_labelled(*dialog_, QString::fromLatin1(label(cipher).data())), Qt::LeftButton);
      QCOMPARE(cipher_choice(), cipher);
    }
    // The two groups are independent: the last click in each stays checked.
    QVERIFY(button_labelled(*dialog_, QStringLiteral("MD5"))->isChecked());
    QVERIFY(button_labelled(*dialog_, QStringLiteral("AES256"))->isChecked());
    QVERIFY(!button_labelled(*dialog_, QStringLiteral("SHA512"))->isChecked());
  }

  void a_drop_hands_the_password_and_the_ordered_paths_to_the_core() {
    const QString password = QStringLiteral("p\u00e4ssw\u00f6rd \u2713");
    password_field()->setText(password);
    const QList<QUrl> urls{QUrl::fromLocalFile("/data/z last.txt"),
                           QUrl::fromLocalFile("/data/r\u00e9sum\u00e9.txt.enc"),
                           QUrl::fromLocalFile("/data/a first.txt")};
    QVERIFY(drop_urls(*dialog_, urls));

    QTRY_COMPARE_WITH_TIMEOUT(core_->calls().size(), std::size_t{3}, kTimeoutMs);
    const std::vector<std::filesystem::path> expected{"/data/z last.txt",
                                                      "/data/r\u00e9sum\u00e9.txt.enc",
                                                      "/data/a first.txt"};
    QCOMPARE(core_->converted_paths(), expected);
    for (const auto& call : core_->calls()) QCOMPARE(call.password, password.toStdU16String());
  }

  void a_drop_on_the_password_field_is_a_file_drop() {
    const std::unique_ptr<QMimeData> data(file_manager_drag({QUrl::fromLocalFile("/data/report.txt")}));
    const QPoint on_field = password_field()->geometry().center();
    QVERIFY(drop_on(*dialog_, on_field, *data));

    QTRY_COMPARE_WITH_TIMEOUT(core_->converted_paths().size(), std::size_t{1}, kTimeoutMs);
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
    QVERIFY(drop_urls(*dialog_, {QUrl("https://example.com/notes.txt"),
                                 QUrl::fromLocalFile("/data/local.txt"),
                                 QUrl("sftp://host/backup.tar.enc"),
                                 QUrl("file://otherhost/share/plan.txt.enc")}));

    expect_failure_box(QStringLiteral("Can't open source file."));
    QVERIFY(core_->calls().empty());  // held until the message is closed
    close_failure_box();
    expect_failure_box(QStringLiteral("Can't open encrypted file."));
    QCOMPARE(core_->converted_paths(), std::vector<std::filesystem::path>{"/data/local.txt"});
    close_failure_box();
    expect_failure_box(QStringLiteral("Can't open encrypted file."));
    close_failure_box();
    QCOMPARE(core_->calls().size(), std::size_t{1});
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
      QTest::mouseClick(button_labelled(*dialog_, QStringLiteral("QUIT")), Qt::LeftButton);
    else
      dialog_->windowHandle()->close();

    QCOMPARE(finished.size(), 1);
    QVERIFY(!dialog_->isVisible());
  }

 private:
  QLineEdit* password_field() { return dialog_->findChild<QLineEdit*>(QStringLiteral("password_field")); }

  static void expect_failure_box(const QString& text) {
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QCOMPARE(shown_failure_box()->text(), text);
    QCOMPARE(shown_failure_box()->windowTitle(), QStringLiteral("File open ERROR"));
  }

  static void close_failure_box() {
    QMessageBox* box = shown_failure_box();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != box, kTimeoutMs);
  }

  std::unique_ptr<FileSystem> file_system_ = make_native_file_system();
  std::unique_ptr<ScriptedCore> core_;
  std::unique_ptr<MainDialog> dialog_;
};

}  // namespace kestrune::qt::testing

#include "offscreen_test_main.h"
KESTRUNE_OFFSCREEN_TEST_MAIN(kestrune::qt::testing::MainDialogTest)
#include "main_dialog_test.moc"
