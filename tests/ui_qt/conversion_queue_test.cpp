// Converting while the window answers: the queue, failure messages that hold
// the next file, and quitting part-way without losing anything.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <thread>

#include "algorithms.h"
#include "dialog_driver.h"
#include "gated_file_system.h"
#include "main_dialog.h"
#include "messages.h"
#include "scripted_core.h"

namespace kestrune::qt::testing {
namespace {

constexpr int kTimeoutMs = 5000;

QByteArray random_bytes(qsizetype size) {
  QByteArray bytes(size, Qt::Uninitialized);
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
  return bytes;
}

bool write_file(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray read_file(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList everything_in(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class ConversionQueueTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void a_failure_holds_the_next_file_until_closed_while_the_dialog_stays_usable() {
    ScriptedCore core;
    core.fail("/data/a.txt", kCantReadSource);
    MainDialog dialog(file_system_, core.converter());
    show(dialog);
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile("/data/a.txt"), QUrl::fromLocalFile("/data/b.txt")}));

    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);
    QMessageBox* box = shown_failure_box();
    QCOMPARE(box->windowTitle(), QStringLiteral("Encrypt ERROR"));
    QCOMPARE(box->text(), QStringLiteral("Can't read source file."));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons().size(), 1);
    QVERIFY(box->button(QMessageBox::Ok) != nullptr);
    QVERIFY(!box->isModal());
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    QTest::qWait(100);
    QCOMPARE(core.converted_paths().size(), std::size_t{1});
    // The dialog answers meanwhile; the new choice applies to the next file.
    QTest::mouseClick(button_labelled(dialog, QStringLiteral("SHA1")), Qt::LeftButton);
    QTest::mouseClick(button_labelled(dialog, QStringLiteral("3DES")), Qt::LeftButton);

    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(core.calls().size(), std::size_t{2}, kTimeoutMs);
    QCOMPARE(core.calls()[0].hash, HashAlgorithm::sha256);
    QCOMPARE(core.calls()[1].hash, HashAlgorithm::sha1);
    QCOMPARE(core.calls()[1].cipher, CipherAlgorithm::triple_des);
    QCOMPARE(core.calls()[1].paths.front(), std::filesystem::path("/data/b.txt"));
  }

  void drops_during_a_conversion_wait_their_turn_with_their_own_password() {
    ScriptedCore core;
    core.hold("/data/big.iso");
    MainDialog dialog(file_system_, core.converter());
    show(dialog);
    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("password_field"));
    auto* progress_bar = dialog.findChild<QProgressBar*>(QStringLiteral("progress_bar"));
    auto* status_line = dialog.findChild<QLabel*>(QStringLiteral("status_line"));

    QTest::keyClicks(password, QStringLiteral("first"));
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile("/data/big.iso")}));
    QTRY_VERIFY_WITH_TIMEOUT(core.is_converting("/data/big.iso"), kTimeoutMs);
    password->setText(QStringLiteral("second"));
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile("/data/b.txt"), QUrl::fromLocalFile("/data/c.txt")}));

    QTRY_COMPARE_WITH_TIMEOUT(progress_bar->value(), 50, kTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().contains(QStringLiteral("1 of 3")), kTimeoutMs);
    QVERIFY(status_line->text().startsWith(QStringLiteral("big.iso")));
    QVERIFY(status_line->text().contains(QStringLiteral("50%")));
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::qWait(50);
    QCOMPARE(core.calls().size(), std::size_t{1});

    core.release();
    QTRY_COMPARE_WITH_TIMEOUT(core.calls().size(), std::size_t{3}, kTimeoutMs);
    const auto calls = core.calls();
    QCOMPARE(calls[0].password, u"first");
    QCOMPARE(calls[1].password, u"second");
    QCOMPARE(calls[2].password, u"second");
    const std::vector<std::filesystem::path> order{"/data/big.iso", "/data/b.txt", "/data/c.txt"};
    QCOMPARE(core.converted_paths(), order);
    QVERIFY(!core.overlapped());

    QTRY_VERIFY_WITH_TIMEOUT(status_line->text().isEmpty(), kTimeoutMs);
    QCOMPARE(progress_bar->value(), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void quitting_during_a_conversion_loses_nothing() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray big = random_bytes(3 * 1024 * 1024);
    const QByteArray small = random_bytes(4096);
    QVERIFY(write_file(folder.filePath("big.bin"), big));
    QVERIFY(write_file(folder.filePath("next.txt"), small));
    QVERIFY(write_file(folder.filePath("queued.txt"), small));
    const QStringList before = everything_in(folder.path());

    GatedFileSystem file_system(3 * 1024 * 1024 / 2);  // holds in the second block
    MainDialog dialog(file_system);
    show(dialog);
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile(folder.filePath("big.bin")),
                               QUrl::fromLocalFile(folder.filePath("next.txt"))}));
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile(folder.filePath("queued.txt"))}));
    auto* progress_bar = dialog.findChild<QProgressBar*>(QStringLiteral("progress_bar"));
    QTRY_VERIFY_WITH_TIMEOUT(file_system.is_holding() && progress_bar->value() > 0, kTimeoutMs);

    // QUIT waits for the file to be abandoned; the read it holds goes on a
    // moment after the stop was asked for.
    std::jthread gate_opener([&file_system] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      file_system.open_gate();
    });
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::mouseClick(button_labelled(dialog, QStringLiteral("QUIT")), Qt::LeftButton);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    QCOMPARE(everything_in(folder.path()), before);
    QCOMPARE(read_file(folder.filePath("big.bin")), big);
    QCOMPARE(read_file(folder.filePath("next.txt")), small);
    QCOMPARE(read_file(folder.filePath("queued.txt")), small);
  }

  void quitting_while_a_failure_is_shown_ends_at_once() {
    ScriptedCore core;
    core.fail("/data/a.txt", kCantOpenSource);
    MainDialog dialog(file_system_, core.converter());
    show(dialog);
    QVERIFY(drop_urls(dialog, {QUrl::fromLocalFile("/data/a.txt"), QUrl::fromLocalFile("/data/b.txt")}));
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() != nullptr, kTimeoutMs);

    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(finished.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(shown_failure_box() == nullptr, kTimeoutMs);
    QTest::qWait(50);
    QCOMPARE(core.converted_paths(), std::vector<std::filesystem::path>{"/data/a.txt"});
  }

 private:
  static void show(MainDialog& dialog) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  }

  std::unique_ptr<FileSystem> native_ = make_native_file_system();
  FileSystem& file_system_ = *native_;
};

}  // namespace kestrune::qt::testing

#include "offscreen_test_main.h"
KESTRUNE_OFFSCREEN_TEST_MAIN(kestrune::qt::testing::ConversionQueueTest)
#include "conversion_queue_test.moc"
