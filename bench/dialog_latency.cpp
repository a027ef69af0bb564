// Usage: dialog_latency [--files N] [--escape-after-ms MS] FOLDER
// How the dialog answers while a large drop converts: N one-byte files are
// made in FOLDER and dropped on the dialog (offscreen, real core). Keys are
// posted to the password field every 20 ms from another thread, as key
// presses queue up behind whatever the window has queued, and each one's
// time until the field repaints is taken. A second drop of N files is ended
// with Escape after MS; the files converted after the Escape are counted.
// Prints one Markdown table row.
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/kestrune.h"
#include "core/services.h"
#include "ui/qt/main_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kKeyInterval = std::chrono::milliseconds(20);

struct Options {
  int files = 10000;
  int escape_after_ms = 1000;
  std::filesystem::path folder;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--files" && i + 1 < argc)
      options.files = std::atoi(argv[++i]);
    else if (argument == "--escape-after-ms" && i + 1 < argc)
      options.escape_after_ms = std::atoi(argv[++i]);
    else
      options.folder = argument;
  }
  if (options.folder.empty() || options.files <= 0) {
    std::fprintf(stderr, "usage: dialog_latency [--files N] [--escape-after-ms MS] FOLDER\n");
    std::exit(2);
  }
  return options;
}

QList<QUrl> make_files(const std::filesystem::path& folder, int count) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  QList<QUrl> urls;
  for (int i = 0; i < count; ++i) {
    const std::filesystem::path path = folder / ("f" + std::to_string(i));
    std::ofstream(path) << 'x';
    urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
  }
  return urls;
}

void drop(QWidget& window, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  const QPoint center = window.rect().center();
  const auto actions = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(center, actions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.windowHandle(), &enter);
  QDragMoveEvent move(center, actions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.windowHandle(), &move);
  QDropEvent drop_event(QPointF(center), actions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.windowHandle(), &drop_event);
}

// Times each posted key from its posting to the field's next repaint.
class KeyLatency final : public QObject {
 public:
  explicit KeyLatency(QLineEdit& field) : field_(field) { field.installEventFilter(this); }

  void post_key(bool erase) {
    {
      std::lock_guard lock(mutex_);
      posted_.push_back(Clock::now());
    }
    const int key = erase ? Qt::Key_Backspace : Qt::Key_X;
    QCoreApplication::postEvent(&field_, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier,
                                                       erase ? QString() : QStringLiteral("x")));
  }

  // Milliseconds, sorted.
  std::vector<double> latencies() {
    std::sort(latencies_.begin(), latencies_.end());
    return latencies_;
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    std::lock_guard lock(mutex_);
    if (event->type() == QEvent::KeyPress && !posted_.empty()) {
      awaiting_paint_.push_back(posted_.front());
      posted_.pop_front();
    } else if (event->type() == QEvent::Paint) {
      const auto now = Clock::now();
      for (const auto posted : awaiting_paint_)
        latencies_.push_back(std::chrono::duration<double, std::milli>(now - posted).count());
      awaiting_paint_.clear();
    }
    return false;
  }

 private:
  QLineEdit& field_;
  std::mutex mutex_;
  std::deque<Clock::time_point> posted_;
  std::vector<Clock::time_point> awaiting_paint_;
  std::vector<double> latencies_;
};

double percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

struct Counted {
  std::atomic<int> converted{0};
  kestrune::qt::DropConverter converter() {
    return [this](kestrune::ConversionEnv& env, std::u16string_view password,
                  std::span<const std::filesystem::path> paths) {
      kestrune::dispatch_dropped_files(env, password, paths);
      converted += static_cast<int>(paths.size());
    };
  }
};

// The whole drop converts while keys are pressed; returns the latencies.
std::vector<double> latencies_during_drop(kestrune::FileSystem& file_system, const Options& options,
                                          double& seconds) {
  Counted counted;
  kestrune::qt::MainDialog dialog(file_system, counted.converter());
  dialog.show();
  auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("password_field"));
  field->setText(QStringLiteral("bench"));
  KeyLatency latency(*field);
  const QList<QUrl> urls = make_files(options.folder / "latency", options.files);
  const auto start = Clock::now();
  drop(dialog, urls);
  std::jthread keys([&](std::stop_token stop) {
    for (bool erase = false; !stop.stop_requested(); erase = !erase) {
      latency.post_key(erase);
      std::this_thread::sleep_for(kKeyInterval);
    }
  });
  while (counted.converted < options.files)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  keys.request_stop();
  keys.join();
  QCoreApplication::processEvents();
  dialog.done(QDialog::Accepted);
  return latency.latencies();
}

struct EscapeResult {
  int converted_before = 0;
  int converted_after = 0;
  double exit_ms = 0;
};

// The drop is ended with Escape; counts what was converted after it.
EscapeResult escape_during_drop(kestrune::FileSystem& file_system, const Options& options) {
  Counted counted;
  kestrune::qt::MainDialog dialog(file_system, counted.converter());
  dialog.show();
  auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("password_field"));
  field->setText(QStringLiteral("bench"));
  drop(dialog, make_files(options.folder / "escape", options.files));
  EscapeResult result;
  Clock::time_point escaped;
  std::jthread escape([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(options.escape_after_ms));
    escaped = Clock::now();
    result.converted_before = counted.converted;
    QCoreApplication::postEvent(field,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  });
  dialog.exec();
  escape.join();
  result.exit_ms = std::chrono::duration<double, std::milli>(Clock::now() - escaped).count();
  result.converted_after = counted.converted - result.converted_before;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const auto file_system = kestrune::make_native_file_system();

  double seconds = 0;
  const std::vector<double> latencies = latencies_during_drop(*file_system, options, seconds);
  const EscapeResult escape = escape_during_drop(*file_system, options);
  std::filesystem::remove_all(options.folder);

  std::printf("| %d | %.1f | %zu | %.1f | %.1f | %.1f | %d | %.0f |\n", options.files, seconds,
              latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
              latencies.empty() ? 0.0 : latencies.back(), escape.converted_after, escape.exit_ms);
  return 0;
}
