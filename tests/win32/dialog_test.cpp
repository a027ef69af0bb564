// The main dialog in this process, driven from a second thread as a user
// would: typing, clicking, dropping files and closing it, with the files
// checked on disk. Needs a display (Xvfb under Wine).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "core/algorithms.h"
#include "core/kestrune.h"
#include "core/services.h"
#include "tests/test_support.h"
#include "ui/win32/command_line_paths.h"
#include "ui/win32/handover.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/one_window.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/user_scope.h"

namespace kestrune::test {
namespace {

using namespace std::chrono_literals;

// True once `condition` holds; false after `limit`.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::wstring text_of(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return text;
}

// Window enumeration calls back through WINAPI (stdcall on 32-bit
// Windows), which a lambda cannot be converted to; hence named callbacks.
struct CaptionSearch {
  const std::wstring& caption;
  HWND found = nullptr;
};

BOOL CALLBACK match_dialog_caption(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<CaptionSearch*>(context);
  wchar_t class_name[16]{};
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) == L"#32770" && IsWindowVisible(window) &&
      text_of(window) == search.caption)
    search.found = window;
  return search.found == nullptr;
}

// A visible dialog-class window of `thread` with `caption`, or null.
HWND find_window_of(DWORD thread, const std::wstring& caption) {
  CaptionSearch search{caption};
  EnumThreadWindows(thread, match_dialog_caption, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct TextSearch {
  const std::wstring& text;
  bool found = false;
};

BOOL CALLBACK match_child_text(HWND child, LPARAM context) {
  auto& search = *reinterpret_cast<TextSearch*>(context);
  search.found = search.found || text_of(child) == search.text;
  return !search.found;
}

// Whether any child of `window` shows `text`.
bool shows_text(HWND window, const std::wstring& text) {
  TextSearch search{text};
  EnumChildWindows(window, match_child_text, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A drop as the shell makes one: a DROPFILES header and the wide paths,
// each ended by a zero, the list by another.
HDROP make_drop(const std::vector<std::filesystem::path>& paths) {
  std::wstring list;
  for (const auto& path : paths) list += path.native() + L'\0';
  list += L'\0';
  const std::size_t size = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, size);
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  std::memcpy(reinterpret_cast<std::uint8_t*>(header) + sizeof(DROPFILES), list.data(),
              list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// What the test thread does to the dialog that runs on the main thread.
class DialogDriver {
 public:
  explicit DialogDriver(DWORD ui_thread) : ui_thread_(ui_thread) {}

  bool wait_for_dialog() {
    return wait_until(
        [this] { return (dialog_ = find_window_of(ui_thread_, L"Kestrune")) != nullptr; });
  }
  HWND dialog() const { return dialog_; }
  HWND control(int id) const { return GetDlgItem(dialog_, id); }

  void type(const std::wstring& text) {
    for (wchar_t unit : text) SendMessageW(control(IDC_PASSWORD), WM_CHAR, unit, 1);
  }
  void click(int id) { SendMessageW(control(id), BM_CLICK, 0, 0); }
  // A click's notification, posted: it queues behind what was posted before
  // it, where a sent message would overtake it.
  void post_click(int id) {
    PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control(id)));
  }
  // Posted, as the shell does: the drop is handled once the dialog's loop
  // gets to it, and the caller waits for its effects.
  void drop(const std::vector<std::filesystem::path>& paths) {
    PostMessageW(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(paths)), 0);
  }
  void press_key(WPARAM key) {
    PostMessageW(control(IDC_PASSWORD), WM_KEYDOWN, key, 1);
    PostMessageW(control(IDC_PASSWORD), WM_KEYUP, key, 0xC0000001);
  }
  void close_box() { PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0); }

  HWND wait_for_message(const std::wstring& caption) {
    HWND box = nullptr;
    wait_until([&] { return (box = find_window_of(ui_thread_, caption)) != nullptr; });
    return box;
  }
  void dismiss(HWND box) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    wait_until([box] { return !IsWindow(box); });
  }

  bool dialog_is_open() const { return IsWindow(dialog_) && IsWindowVisible(dialog_); }
  bool hint_reads(const std::wstring& text) const {
    return wait_until([&] { return shows_text(dialog_, text); }, 5s);
  }

  // Closes whatever a failed step left open, so a failure cannot hang the run.
  void clean_up() {
    for (int attempt = 0; attempt < 50 && IsWindow(dialog_); ++attempt) {
      for (const wchar_t* caption : {L"File open ERROR", L"Encrypt ERROR", L"Decrypt ERROR"})
        if (HWND box = find_window_of(ui_thread_, caption)) PostMessageW(box, WM_COMMAND, IDOK, 0);
      PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
      std::this_thread::sleep_for(100ms);
    }
  }

 private:
  DWORD ui_thread_;
  HWND dialog_ = nullptr;
};

class MainDialogTest : public ::testing::Test {
 protected:
  // Runs the dialog here while `script` drives it from another thread;
  // returns what ended the dialog. Checks the quit message it leaves behind.
  // The script sees the dialog's choices.
  INT_PTR run_dialog(const std::function<void(DialogDriver&, const SelectedChoices&)>& script,
                     std::vector<std::filesystem::path> waiting = {}) {
    DialogDriver driver(GetCurrentThreadId());
    win32::MainDialog dialog(GetModuleHandleW(nullptr), std::move(waiting));
    std::thread user([&] {
      if (driver.wait_for_dialog())
        script(driver, dialog.choices());
      else
        ADD_FAILURE() << "the dialog did not appear";
      driver.clean_up();
    });
    const INT_PTR result = dialog.run();
    user.join();
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit message";
    EXPECT_EQ(quit.wParam, 0u) << "exit code";
    return result;
  }

  bool converted(const std::filesystem::path& from, const std::filesystem::path& to) const {
    return wait_until(
        [&] { return std::filesystem::exists(to) && !std::filesystem::exists(from); });
  }

  // Decrypts `container` here with the given choices; its plain bytes.
  Bytes decrypt_here(const std::filesystem::path& container, std::u16string_view password,
                     HashAlgorithm hash, CipherAlgorithm cipher) {
    RecordingFrontEnd front_end;
    auto file_system = make_native_file_system();
    ConversionEnv env{*file_system, native_crypto_service(), front_end};
    env.choices.set_hash(hash);
    env.choices.set_cipher(cipher);
    decrypt_file(env, container, password);
    EXPECT_TRUE(front_end.failures.empty());
    return read_file(container.parent_path() / container.stem());
  }

  ScratchFolder folder;
};

constexpr wchar_t kHint[] = L"* Input a password and please drag files here *";

TEST_F(MainDialogTest, OpensWithTheDefaultsAndFocusOnThePasswordAndQuitEndsIt) {
  const INT_PTR result = run_dialog([](DialogDriver& driver, const SelectedChoices& choices) {
    EXPECT_EQ(IsDlgButtonChecked(driver.dialog(), IDC_SHA256), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(driver.dialog(), IDC_AES256), BST_CHECKED);
    EXPECT_EQ(choices.hash(), HashAlgorithm::sha256);
    EXPECT_EQ(choices.cipher(), CipherAlgorithm::aes256);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(driver.dialog(), nullptr), &info);
    EXPECT_EQ(info.hwndFocus, driver.control(IDC_PASSWORD));
    driver.click(IDOK);
  });
  EXPECT_EQ(result, IDOK);
}

TEST_F(MainDialogTest, DropsEncryptAndDecryptWithTheClickedChoicesAndEnterEndsIt) {
  const auto report = folder / "report.txt";
  const auto data = folder / "data.bin";
  write_file(report, pattern_bytes(100));
  write_file(data, random_bytes(70000, 7));
  const INT_PTR result = run_dialog([&](DialogDriver& driver, const SelectedChoices& choices) {
    driver.type(L"secret");
    driver.click(IDC_SHA1);
    driver.click(IDC_DES);
    EXPECT_EQ(choices.hash(), HashAlgorithm::sha1);
    EXPECT_EQ(choices.cipher(), CipherAlgorithm::des);
    driver.drop({report, data});
    ASSERT_TRUE(converted(report, folder / "report.txt.enc"));
    ASSERT_TRUE(converted(data, folder / "data.bin.enc"));
    driver.drop({folder / "data.bin.enc"});
    ASSERT_TRUE(converted(folder / "data.bin.enc", data));
    driver.press_key(VK_RETURN);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(read_file(data), random_bytes(70000, 7));
  EXPECT_EQ(
      decrypt_here(folder / "report.txt.enc", u"secret", HashAlgorithm::sha1, CipherAlgorithm::des),
      pattern_bytes(100));
}

// The message of a failed file waits for OK; a radio button clicked then
// applies to the files of the same drop that follow.
TEST_F(MainDialogTest, FailureIsShownAndTheRestOfTheDropFollowsTheNewChoiceAndEscapeEndsIt) {
  const auto damaged = folder / "damaged.enc";
  const auto later = folder / "later.txt";
  write_file(damaged, {0x10, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  write_file(later, pattern_bytes(3000));
  const INT_PTR result = run_dialog([&](DialogDriver& driver, const SelectedChoices&) {
    driver.drop({damaged, later});
    HWND box = driver.wait_for_message(L"Decrypt ERROR");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(shows_text(box, L"Can't Data Decryption"));
    EXPECT_TRUE(std::filesystem::exists(later));
    driver.click(IDC_MD5);
    driver.dismiss(box);
    ASSERT_TRUE(converted(later, folder / "later.txt.enc"));
    EXPECT_TRUE(std::filesystem::exists(damaged));
    driver.press_key(VK_ESCAPE);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(
      decrypt_here(folder / "later.txt.enc", u"", HashAlgorithm::md5, CipherAlgorithm::aes256),
      pattern_bytes(3000));
}

// While a failure message is shown, a new drop and QUIT wait until the
// drop that failed has finished, and are then taken in order.
TEST_F(MainDialogTest, DropAndQuitDuringAFailureMessageAreDeferredInOrder) {
  const auto missing = folder / "missing.txt";
  const auto waiting = folder / "waiting.txt";
  write_file(waiting, pattern_bytes(10));
  const INT_PTR result = run_dialog([&](DialogDriver& driver, const SelectedChoices&) {
    driver.drop({missing});
    HWND box = driver.wait_for_message(L"File open ERROR");
    ASSERT_NE(box, nullptr);
    // The fixed text alone: the system's cause is for the command line.
    EXPECT_TRUE(shows_text(box, L"Can't open source file."));
    driver.drop({waiting});
    driver.post_click(IDOK);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(driver.dialog_is_open());
    EXPECT_TRUE(std::filesystem::exists(waiting));
    driver.dismiss(box);
    EXPECT_TRUE(converted(waiting, folder / "waiting.txt.enc"));
    EXPECT_TRUE(wait_until([&] { return !IsWindow(driver.dialog()); }));
  });
  EXPECT_EQ(result, IDOK);
}

// Dropped without a password: the empty password. The path is far longer
// than 260 units and must arrive whole.
TEST_F(MainDialogTest, LongPathWithoutPasswordConvertsAndTheCloseBoxEndsIt) {
  const std::wstring long_name(200, L'n');
  const auto inner = folder.path() / long_name;
  ASSERT_TRUE(CreateDirectoryW((LR"(\\?\)" + inner.native()).c_str(), nullptr));
  const auto plain = inner / (long_name + L".txt");
  const auto container = std::filesystem::path(plain.native() + L".enc");
  ASSERT_GT(plain.native().size(), 400u);
  const auto long_form = [](const std::filesystem::path& path) {
    return std::filesystem::path(LR"(\\?\)" + path.native());
  };
  write_file(long_form(plain), pattern_bytes(500));
  const INT_PTR result = run_dialog([&](DialogDriver& driver, const SelectedChoices&) {
    driver.drop({plain});
    EXPECT_TRUE(converted(long_form(plain), long_form(container)));
    driver.close_box();
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(decrypt_here(long_form(container), u"", HashAlgorithm::sha256, CipherAlgorithm::aes256),
            pattern_bytes(500));
  std::filesystem::remove(long_form(plain));
  RemoveDirectoryW((LR"(\\?\)" + inner.native()).c_str());
}

// Files given at the start wait for the password; a drop joins them; Enter
// converts them all with the password and choices of that moment, and the
// hint comes back. Enter with nothing waiting ends the dialog as before.
TEST_F(MainDialogTest, FilesGivenAtTheStartWaitAndEnterConvertsThemWithTheDropThatJoined) {
  const auto first = folder / "first.txt";
  const auto second = folder / "second.bin";
  const auto dropped = folder / "dropped.txt";
  write_file(first, pattern_bytes(100));
  write_file(second, random_bytes(5000, 3));
  write_file(dropped, pattern_bytes(7));
  const INT_PTR result = run_dialog(
      [&](DialogDriver& driver, const SelectedChoices&) {
        EXPECT_TRUE(driver.hint_reads(L"2 files waiting: type the password, then press Enter"));
        driver.type(L"later");
        driver.drop({dropped});
        EXPECT_TRUE(driver.hint_reads(L"3 files waiting: type the password, then press Enter"));
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(std::filesystem::exists(dropped));
        // Enter, not a click of QUIT: the focus stays on the radio button.
        driver.click(IDC_SHA1);
        driver.press_key(VK_RETURN);
        ASSERT_TRUE(converted(first, folder / "first.txt.enc"));
        ASSERT_TRUE(converted(second, folder / "second.bin.enc"));
        ASSERT_TRUE(converted(dropped, folder / "dropped.txt.enc"));
        EXPECT_TRUE(driver.hint_reads(kHint));
        EXPECT_TRUE(driver.dialog_is_open());
        driver.press_key(VK_RETURN);
      },
      {first, second});
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(decrypt_here(folder / "second.bin.enc", u"later", HashAlgorithm::sha1,
                         CipherAlgorithm::aes256),
            random_bytes(5000, 3));
  EXPECT_EQ(decrypt_here(folder / "dropped.txt.enc", u"later", HashAlgorithm::sha1,
                         CipherAlgorithm::aes256),
            pattern_bytes(7));
}

// QUIT, Escape and the close box leave what waits untouched.
TEST_F(MainDialogTest, QuitEscapeAndTheCloseBoxConvertNothingThatWaits) {
  const auto waiting = folder / "waiting.txt";
  write_file(waiting, pattern_bytes(10));
  const std::function<void(DialogDriver&)> endings[] = {
      [](DialogDriver& driver) { driver.click(IDOK); },
      [](DialogDriver& driver) { driver.press_key(VK_ESCAPE); },
      [](DialogDriver& driver) { driver.close_box(); },
  };
  for (const auto& ending : endings) {
    run_dialog(
        [&](DialogDriver& driver, const SelectedChoices&) {
          EXPECT_TRUE(driver.hint_reads(L"1 file waiting: type the password, then press Enter"));
          driver.type(L"pw");
          ending(driver);
          EXPECT_TRUE(wait_until([&] { return !IsWindow(driver.dialog()); }));
        },
        {waiting});
    EXPECT_EQ(read_file(waiting), pattern_bytes(10));
    EXPECT_FALSE(std::filesystem::exists(folder / "waiting.txt.enc"));
  }
}

// A second launch while the dialog runs: its files join those waiting and
// it is told so; a message that is not a whole list is refused; once the
// dialog has closed, nothing answers and the next launch takes the claim.
TEST_F(MainDialogTest, ALaterLaunchHandsItsFilesToTheRunningDialog) {
  const auto mine = folder / "mine.txt";
  const auto handed = folder / "handed.txt";
  write_file(mine, pattern_bytes(30));
  write_file(handed, pattern_bytes(40));
  win32::SessionDialogLock first_launch;
  ASSERT_TRUE(first_launch.take(0ms));
  const INT_PTR result = run_dialog(
      [&](DialogDriver& driver, const SelectedChoices&) {
        std::thread later_launch([&] {
          win32::SessionDialogLock lock;
          const std::vector<std::filesystem::path> paths{handed};
          EXPECT_TRUE(win32::hand_over_to_running_dialog(lock, paths, 10s));
        });
        later_launch.join();
        EXPECT_TRUE(driver.hint_reads(L"2 files waiting: type the password, then press Enter"));
        const std::wstring cut = L"C:\\cut";
        COPYDATASTRUCT data{0x4B535450, static_cast<DWORD>(cut.size() * sizeof(wchar_t)),
                            const_cast<wchar_t*>(cut.data())};
        EXPECT_EQ(SendMessageW(win32::find_handover_window(), WM_COPYDATA, 0,
                               reinterpret_cast<LPARAM>(&data)),
                  FALSE);
        driver.type(L"pw");
        driver.press_key(VK_RETURN);
        ASSERT_TRUE(converted(mine, folder / "mine.txt.enc"));
        ASSERT_TRUE(converted(handed, folder / "handed.txt.enc"));
        driver.press_key(VK_ESCAPE);
      },
      {mine});
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(win32::find_handover_window(), nullptr);
  std::thread after_close([] {
    win32::SessionDialogLock lock;
    const std::vector<std::filesystem::path> none;
    EXPECT_FALSE(win32::hand_over_to_running_dialog(lock, none, 300ms));
    EXPECT_FALSE(lock.take(0ms)) << "the first launch still holds the claim";
  });
  after_close.join();
}

TEST(CommandLinePathsTest, ArgumentsAfterTheProgramAreTakenWholeAsThePlatformSplitsThem) {
  const std::wstring long_path = L"C:\\" + std::wstring(300, L'd') + L"\\file name.txt";
  const struct {
    std::wstring line;
    std::vector<std::filesystem::path> paths;
  } cases[] = {
      {L"", {}},
      {L"kestrune.exe", {}},
      {L"\"C:\\Program Files\\Kestrune\\kestrune.exe\" \"C:\\a b\\x.enc\"", {L"C:\\a b\\x.enc"}},
      {L"kestrune.exe one \"\" two.txt", {L"one", L"two.txt"}},
      {L"kestrune.exe \"" + long_path + L"\"", {long_path}},
  };
  for (const auto& each : cases)
    EXPECT_EQ(win32::command_line_paths(each.line.c_str()), each.paths)
        << std::string(each.line.begin(), each.line.end());
  EXPECT_EQ(
      win32::absolute_paths({L"x.txt", L"D:\\y"}),
      (std::vector<std::filesystem::path>{std::filesystem::current_path() / L"x.txt", L"D:\\y"}));
}

TEST(HandoverTest, PathsSurviveTheMessageAndACutMessageIsRefused) {
  const std::vector<std::filesystem::path> paths{L"C:\\a b\\ä.txt", L"\\\\server\\share\\x.enc"};
  EXPECT_EQ(win32::decode_handover(win32::encode_handover(paths)), paths);
  EXPECT_EQ(win32::decode_handover(L""), std::vector<std::filesystem::path>{});
  EXPECT_EQ(win32::decode_handover(std::wstring_view(L"a\0\0b\0", 5)),
            (std::vector<std::filesystem::path>{L"a", L"b"}));
  EXPECT_EQ(win32::decode_handover(std::wstring_view(L"a\0b", 3)), std::nullopt);
  // The mutex and the window class carry the user; a lookup that silently
  // failed would let another user's launch reach this dialog.
  EXPECT_EQ(win32::user_scoped_name(L"base").rfind(L"base.S-1-5-", 0), 0u);
}

}  // namespace
}  // namespace kestrune::test
