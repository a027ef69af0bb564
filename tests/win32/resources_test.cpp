// The main dialog's template, icon and manifest as linked into the program,
// read back from the module's resources and compared field by field.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ui/win32/resource_ids.h"

namespace kestrune::test {
namespace {

struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

ResourceBytes find_resource(LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC resource = FindResourceExW(nullptr, type, name, language);
  if (resource == nullptr) return {};
  return {static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource))),
          SizeofResource(nullptr, resource)};
}

// Walks a DLGTEMPLATEEX: little-endian fields, strings or ordinals, and
// items aligned on four bytes.
class TemplateReader {
 public:
  explicit TemplateReader(const std::uint8_t* data) : start_(data), at_(data) {}
  std::uint16_t word() { return read<std::uint16_t>(); }
  std::uint32_t dword() { return read<std::uint32_t>(); }
  std::int16_t coordinate() { return read<std::int16_t>(); }
  std::uint8_t byte() { return read<std::uint8_t>(); }
  // A string, or an ordinal written as "#107", or "" for none.
  std::wstring text() {
    const std::uint16_t first = word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(word());
    std::wstring result;
    for (std::uint16_t unit = first; unit != 0; unit = word()) result += static_cast<wchar_t>(unit);
    return result;
  }
  void align() {
    while ((at_ - start_) % 4 != 0) ++at_;
  }
  void skip(std::size_t bytes) { at_ += bytes; }

 private:
  template <typename T>
  T read() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  const std::uint8_t* start_;
  const std::uint8_t* at_;
};

struct Item {
  std::uint32_t id;
  std::wstring class_name;
  std::wstring text;
  int x, y, width, height;
  DWORD style;
  bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  return out << "id " << item.id << " class "
             << std::string(item.class_name.begin(), item.class_name.end()) << " text '"
             << std::string(item.text.begin(), item.text.end()) << "' at " << item.x << ","
             << item.y << " " << item.width << "x" << item.height << " style 0x" << std::hex
             << item.style << std::dec;
}

constexpr std::uint32_t kNone = 0xFFFFFFFF;
const std::wstring kButton = L"#128", kEdit = L"#129", kStatic = L"#130";
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

const std::vector<Item> kExpectedItems = {
    {kNone, kStatic, L"Password", 6, 7, 158, 8, kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX},
    {IDOK, kButton, L"QUIT", 114, 134, 50, 14, kChild | WS_GROUP | BS_DEFPUSHBUTTON},
    {IDC_PASSWORD, kEdit, L"", 6, 21, 158, 14,
     kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_PASSWORD | ES_AUTOHSCROLL},
    {kNone, kStatic, L"* Input a password and please drag files here *", 6, 49, 158, 8,
     kChild | WS_GROUP | SS_CENTER | SS_NOPREFIX},
    {kNone, kButton, L"Hash", 6, 72, 48, 76, kChild | BS_GROUPBOX},
    {kNone, kButton, L"Algorithm", 59, 71, 48, 77, kChild | BS_GROUPBOX},
    {IDC_SHA1, kButton, L"SHA1", 12, 82, 33, 10, kChild | WS_GROUP | BS_AUTORADIOBUTTON},
    {IDC_SHA256, kButton, L"SHA256", 12, 95, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_SHA384, kButton, L"SHA384", 12, 108, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_SHA512, kButton, L"SHA512", 12, 121, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_MD5, kButton, L"MD5", 12, 135, 29, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_DES, kButton, L"DES", 62, 82, 29, 10, kChild | WS_GROUP | BS_AUTORADIOBUTTON},
    {IDC_3DES, kButton, L"3DES", 62, 95, 32, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_AES128, kButton, L"AES128", 62, 108, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_AES192, kButton, L"AES192", 62, 121, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {IDC_AES256, kButton, L"AES256", 62, 135, 39, 10, kChild | BS_AUTORADIOBUTTON},
    {kNone, kStatic, L"#107", 131, 82, 20, 20, kChild | SS_ICON},
    {kNone, kStatic, L"Ver.1.0.4", 127, 110, 25, 8, kChild | WS_GROUP | SS_LEFT},
};

TEST(MainDialogTemplate, IsJapaneseWithAModalFrameInMsUiGothic9) {
  const ResourceBytes resource = find_resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG),
                                               MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
  ASSERT_NE(resource.data, nullptr);
  TemplateReader reader(resource.data);
  EXPECT_EQ(reader.word(), 1);       // version
  EXPECT_EQ(reader.word(), 0xFFFF);  // extended template
  reader.dword();                    // help id
  EXPECT_EQ(reader.dword(), DWORD{WS_EX_CLIENTEDGE});
  EXPECT_EQ(reader.dword(), DWORD{DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | DS_CENTER | WS_POPUP |
                                  WS_CAPTION | WS_SYSMENU});
  EXPECT_EQ(reader.word(), kExpectedItems.size());
  EXPECT_EQ(reader.coordinate(), 0);
  EXPECT_EQ(reader.coordinate(), 0);
  EXPECT_EQ(reader.coordinate(), 171);
  EXPECT_EQ(reader.coordinate(), 155);
  EXPECT_EQ(reader.text(), L"");  // no menu
  EXPECT_EQ(reader.text(), L"");  // the standard dialog class
  EXPECT_EQ(reader.text(), L"Kestrune");
  EXPECT_EQ(reader.word(), 9);  // points
  reader.skip(4);               // weight, italic, character set
  EXPECT_EQ(reader.text(), L"MS UI Gothic");
}

TEST(MainDialogTemplate, HasTheControlsInOrderOnlyThePasswordATabStop) {
  const ResourceBytes resource = find_resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG),
                                               MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
  ASSERT_NE(resource.data, nullptr);
  TemplateReader reader(resource.data);
  reader.skip(26);
  for (int i = 0; i < 3; ++i) reader.text();  // menu, class, caption
  reader.skip(6);
  reader.text();  // typeface
  std::vector<Item> items;
  for (std::size_t i = 0; i < kExpectedItems.size(); ++i) {
    reader.align();
    reader.dword();  // help id
    EXPECT_EQ(reader.dword(), 0u) << "extended style of item " << i;
    Item item{};
    item.style = reader.dword();
    item.x = reader.coordinate();
    item.y = reader.coordinate();
    item.width = reader.coordinate();
    item.height = reader.coordinate();
    item.id = reader.dword();
    item.class_name = reader.text();
    item.text = reader.text();
    reader.skip(reader.word());  // creation data
    items.push_back(item);
  }
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i], kExpectedItems[i]);
}

TEST(ProgramResources, IconGroupHasThe16_32And48PixelImagesIn256Colours) {
  const ResourceBytes group = find_resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_KESTRUNE),
                                            MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(group.data, nullptr);
  TemplateReader reader(group.data);
  reader.word();
  EXPECT_EQ(reader.word(), 1);  // icons
  const std::uint16_t count = reader.word();
  std::vector<int> sizes;
  for (std::uint16_t i = 0; i < count; ++i) {
    const int width = reader.byte();
    const int height = reader.byte();
    reader.skip(2);  // colour count (0 for 256), reserved
    reader.word();   // planes
    const int bits = reader.word();
    reader.skip(6);  // bytes, id
    EXPECT_EQ(width, height);
    EXPECT_EQ(bits, 8) << "image " << i;
    sizes.push_back(width);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
}

TEST(ProgramResources, ManifestAsksToRunAsInvokerWithoutUiAccess) {
  const ResourceBytes manifest = find_resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID,
                                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(manifest.data, nullptr);
  const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  EXPECT_NE(text.find(R"(level="asInvoker")"), std::string::npos);
  EXPECT_NE(text.find(R"(uiAccess="false")"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::test
