// The compiled resources, read back from this test program (it links the same
// resource object as the product) and parsed from their binary form.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

// UTF-16 literals of the Japanese texts the templates carry.
const std::u16string kJapaneseFont = u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF";  // ＭＳ Ｐゴシック
const std::u16string kJapaneseCancel = u"\u30AD\u30E3\u30F3\u30BB\u30EB";              // キャンセル

constexpr std::uint16_t kButtonClass = 0x80;
constexpr std::uint16_t kEditClass = 0x81;
constexpr std::uint16_t kStaticClass = 0x82;
constexpr std::uint16_t kComboBoxClass = 0x85;

struct Control {
  std::uint32_t style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::int32_t id = 0;
  std::uint16_t classOrdinal = 0;  // 0 when the class is named
  std::u16string className;
  std::u16string text;
  bool Visible() const { return (style & WS_VISIBLE) != 0; }
  bool Disabled() const { return (style & WS_DISABLED) != 0; }
  std::uint32_t ButtonType() const { return style & 0x0F; }
};

struct Template {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::int16_t cx = 0, cy = 0;
  std::uint16_t menuOrdinal = 0;
  std::u16string title;
  std::uint16_t pointSize = 0;
  std::u16string typeface;
  std::vector<Control> controls;
};

// Reads the extended template format (DIALOGEX) with bounds checks throughout;
// false on anything malformed.
class TemplateReader {
 public:
  TemplateReader(const std::uint8_t* data, std::size_t size) : templateBytes(data), byteCount(size) {}

  bool Read(Template* out) {
    std::uint16_t version = 0, signature = 0, count = 0;
    std::uint32_t help = 0;
    std::int16_t x = 0, y = 0;
    if (!Word(&version) || !Word(&signature) || version != 1 || signature != 0xFFFF) return false;
    if (!Dword(&help) || !Dword(&out->exStyle) || !Dword(&out->style) || !Word(&count)) return false;
    if (!Short(&x) || !Short(&y) || !Short(&out->cx) || !Short(&out->cy)) return false;
    std::u16string menuName, className;
    std::uint16_t classOrdinal = 0;
    if (!NameOrOrdinal(&out->menuOrdinal, &menuName) || !NameOrOrdinal(&classOrdinal, &className) ||
        !String(&out->title)) {
      return false;
    }
    if (out->style & DS_SETFONT) {
      std::uint16_t weight = 0;
      std::uint8_t italic = 0, charset = 0;
      if (!Word(&out->pointSize) || !Word(&weight) || !Byte(&italic) || !Byte(&charset) ||
          !String(&out->typeface)) {
        return false;
      }
    }
    for (std::uint16_t i = 0; i < count; ++i) {
      Align();
      Control c;
      std::uint32_t exStyle = 0;
      std::uint16_t extra = 0;
      if (!Dword(&help) || !Dword(&exStyle) || !Dword(&c.style) || !Short(&c.x) || !Short(&c.y) ||
          !Short(&c.cx) || !Short(&c.cy) || !Dword(reinterpret_cast<std::uint32_t*>(&c.id))) {
        return false;
      }
      std::uint16_t textOrdinal = 0;
      if (!NameOrOrdinal(&c.classOrdinal, &c.className) || !NameOrOrdinal(&textOrdinal, &c.text) ||
          !Word(&extra) || !Skip(extra)) {
        return false;
      }
      out->controls.push_back(c);
    }
    return true;
  }

 private:
  bool Skip(std::size_t n) {
    if (n > byteCount - position) return false;
    position += n;
    return true;
  }
  bool Byte(std::uint8_t* v) {
    if (position + 1 > byteCount) return false;
    *v = templateBytes[position++];
    return true;
  }
  bool Word(std::uint16_t* v) {
    if (position + 2 > byteCount) return false;
    std::memcpy(v, templateBytes + position, 2);
    position += 2;
    return true;
  }
  bool Short(std::int16_t* v) { return Word(reinterpret_cast<std::uint16_t*>(v)); }
  bool Dword(std::uint32_t* v) {
    if (position + 4 > byteCount) return false;
    std::memcpy(v, templateBytes + position, 4);
    position += 4;
    return true;
  }
  void Align() { position = (position + 3) & ~std::size_t{3}; }
  bool String(std::u16string* s) {
    s->clear();
    for (std::uint16_t ch = 0;;) {
      if (!Word(&ch)) return false;
      if (ch == 0) return true;
      s->push_back(static_cast<char16_t>(ch));
    }
  }
  bool NameOrOrdinal(std::uint16_t* ordinal, std::u16string* name) {
    std::uint16_t first = 0;
    *ordinal = 0;
    name->clear();
    if (!Word(&first)) return false;
    if (first == 0) return true;
    if (first == 0xFFFF) return Word(ordinal);
    name->push_back(static_cast<char16_t>(first));
    std::u16string rest;
    if (!String(&rest)) return false;
    *name += rest;
    return true;
  }

  const std::uint8_t* templateBytes;
  std::size_t byteCount;
  std::size_t position = 0;
};

// The bytes of a resource of this program; empty when it is missing.
std::vector<std::uint8_t> ResourceBytes(int id, LPCSTR type) {
  HMODULE self = ::GetModuleHandleA(nullptr);
  HRSRC found = ::FindResourceA(self, MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(self, found);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  return std::vector<std::uint8_t>(begin, begin + ::SizeofResource(self, found));
}

Template LoadTemplate(int id) {
  Template t;
  const std::vector<std::uint8_t> bytes = ResourceBytes(id, MAKEINTRESOURCEA(5));  // RT_DIALOG
  EXPECT_FALSE(bytes.empty()) << "dialog " << id << " missing";
  TemplateReader reader(bytes.data(), bytes.size());
  EXPECT_TRUE(bytes.empty() || reader.Read(&t)) << "dialog " << id << " malformed";
  return t;
}

struct Rect {
  int id, x, y, cx, cy;
};

void ExpectControls(const Template& t, const std::vector<Rect>& expected, int templateId) {
  ASSERT_EQ(t.controls.size(), expected.size()) << "template " << templateId;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Control& c = t.controls[i];
    const Rect& e = expected[i];
    EXPECT_EQ(c.id, e.id) << "template " << templateId << " control " << i;
    EXPECT_EQ(c.x, e.x) << "template " << templateId << " control " << e.id;
    EXPECT_EQ(c.y, e.y) << "template " << templateId << " control " << e.id;
    EXPECT_EQ(c.cx, e.cx) << "template " << templateId << " control " << e.id;
    EXPECT_EQ(c.cy, e.cy) << "template " << templateId << " control " << e.id;
  }
}

const Control* Find(const Template& t, int id) {
  for (const Control& c : t.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

// The control that takes the focus when the dialog opens: the first visible,
// enabled tab stop in template order.
int FirstTabStop(const Template& t) {
  for (const Control& c : t.controls) {
    if (c.Visible() && !c.Disabled() && (c.style & WS_TABSTOP)) return c.id;
  }
  return 0;
}

struct MessageTemplate {
  int id;
  bool japanese;
  int cx, cy;
  int textId;
  std::vector<Rect> controls;
};

TEST(Resources, MessageDialogTemplatesMatchTheirLayout) {
  const std::vector<MessageTemplate> templates = {
      {IDD_WARNING, false, 171, 51, IDC_WARNING, {{1, 58, 30, 50, 14}, {2, 149, 32, 15, 12}, {102, 7, 3, 154, 24}}},
      {IDD_CANCEL, false, 122, 48, IDC_CANCEL, {{1, 36, 27, 50, 14}, {2, 93, 33, 13, 8}, {109, 7, 7, 108, 16}}},
      {IDD_CANCELJ, true, 147, 50, IDC_CANCELJ, {{1, 46, 29, 50, 14}, {2, 120, 30, 20, 13}, {110, 7, 7, 133, 17}}},
      {IDD_WARNINGJ, true, 167, 58, IDC_WARNINGJ, {{1, 56, 37, 50, 14}, {2, 127, 39, 12, 12}, {108, 9, 7, 151, 26}}},
      {IDD_END, false, 167, 55, IDC_END, {{1, 57, 34, 50, 14}, {2, 148, 34, 12, 14}, {111, 7, 7, 153, 24}}},
      {IDD_ENDJ, true, 167, 58, IDC_ENDJ, {{1, 58, 37, 50, 14}, {2, 149, 37, 11, 14}, {112, 7, 7, 153, 26}}},
      {IDD_START, false, 179, 87, IDC_START, {{1, 63, 66, 50, 14}, {2, 162, 66, 10, 14}, {113, 7, 7, 165, 52}}},
      {IDD_STARTJ, true, 198, 79, IDC_STARTJ, {{1, 72, 58, 50, 14}, {2, 171, 58, 20, 14}, {114, 7, 7, 184, 45}}},
      {IDD_REBOOT, false, 187, 80, IDC_REBOOT,
       {{2, 168, 59, 6, 14}, {1006, 104, 58, 47, 15}, {105, 7, 7, 173, 45}, {1, 34, 58, 47, 15}}},
      {IDD_REBOOTJ, true, 187, 82, IDC_REBOOTJ,
       {{2, 171, 61, 9, 14}, {1006, 105, 61, 49, 14}, {106, 7, 7, 173, 47}, {1, 29, 61, 49, 14}}},
  };
  for (const MessageTemplate& m : templates) {
    SCOPED_TRACE(m.id);
    const Template t = LoadTemplate(m.id);
    EXPECT_EQ(t.cx, m.cx);
    EXPECT_EQ(t.cy, m.cy);
    EXPECT_EQ(t.typeface, m.japanese ? kJapaneseFont : u"Arial");
    EXPECT_EQ(t.pointSize, 10);
    EXPECT_TRUE(t.style & WS_CAPTION);
    EXPECT_TRUE(t.style & DS_MODALFRAME);
    EXPECT_FALSE(t.style & WS_SYSMENU) << "a close box would end the dialog";
    EXPECT_TRUE(t.title.empty());
    ExpectControls(t, m.controls, m.id);

    const Control* text = Find(t, m.textId);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->classOrdinal, kStaticClass);
    EXPECT_TRUE(text->Visible());
    EXPECT_EQ(text->style & SS_TYPEMASK, static_cast<std::uint32_t>(SS_LEFT));  // word-wrapping

    const Control* hidden = Find(t, IDCANCEL);
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(hidden->Visible());
    EXPECT_TRUE(hidden->Disabled());

    const Control* ok = Find(t, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->classOrdinal, kButtonClass);
    EXPECT_EQ(ok->text, u"OK");
    EXPECT_TRUE(ok->Visible());
    const bool reboot = m.id == IDD_REBOOT || m.id == IDD_REBOOTJ;
    if (reboot) {
      const Control* cancel = Find(t, IDC_REBOOTCANCEL);
      ASSERT_NE(cancel, nullptr);
      EXPECT_EQ(cancel->ButtonType(), static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
      EXPECT_EQ(ok->ButtonType(), static_cast<std::uint32_t>(BS_PUSHBUTTON));
      EXPECT_EQ(cancel->text, m.japanese ? kJapaneseCancel : u"CANCEL");
      EXPECT_EQ(FirstTabStop(t), IDC_REBOOTCANCEL) << "Enter must choose CANCEL";
    } else {
      EXPECT_EQ(ok->ButtonType(), static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
      EXPECT_EQ(FirstTabStop(t), IDOK);
    }
  }
}

TEST(Resources, MainDialogTemplate) {
  const Template t = LoadTemplate(IDD_MAIN);
  EXPECT_EQ(t.cx, 310);
  EXPECT_EQ(t.cy, 106);
  EXPECT_EQ(t.menuOrdinal, IDR_MAINMENU);
  EXPECT_EQ(t.typeface, u"FixedSys");
  EXPECT_TRUE(t.title.empty());
  EXPECT_TRUE(t.exStyle & WS_EX_APPWINDOW);
  EXPECT_TRUE(t.style & DS_CENTER);
  EXPECT_TRUE(t.style & DS_MODALFRAME);
  EXPECT_FALSE(t.style & WS_SYSMENU);

  const std::vector<Rect> visible = {{104, 67, 7, 65, 11},  {1000, 134, 7, 169, 95}, {103, 8, 36, 58, 24},
                                     {1006, 185, 67, 77, 17}, {1007, 268, 67, 36, 17}, {115, 5, 79, 172, 9},
                                     {1012, 4, 90, 300, 10}};
  for (const Rect& r : visible) {
    const Control* c = Find(t, r.id);
    ASSERT_NE(c, nullptr) << r.id;
    EXPECT_TRUE(c->Visible()) << r.id;
    EXPECT_EQ(c->x, r.x) << r.id;
    EXPECT_EQ(c->y, r.y) << r.id;
    EXPECT_EQ(c->cx, r.cx) << r.id;
    EXPECT_EQ(c->cy, r.cy) << r.id;
  }
  EXPECT_EQ(Find(t, IDC_TARGET)->style & SS_TYPEMASK, static_cast<std::uint32_t>(SS_RIGHT));
  EXPECT_TRUE(Find(t, IDC_TARGET)->style & SS_CENTERIMAGE);
  EXPECT_EQ(Find(t, IDC_DRIVELIST)->classOrdinal, kComboBoxClass);
  EXPECT_EQ(Find(t, IDC_DRIVELIST)->style & 0x3, static_cast<std::uint32_t>(CBS_DROPDOWNLIST));
  EXPECT_TRUE(Find(t, IDC_UPDATESTART)->Disabled());
  EXPECT_EQ(Find(t, IDC_UPDATESTART)->text, u"Update Start");
  EXPECT_EQ(Find(t, IDC_CANCELBUTTON)->text, u"CANCEL");
  EXPECT_EQ(Find(t, IDC_CANCELBUTTON)->ButtonType(), static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
  // Window class names match without regard to case (the compiler writes them in capitals).
  std::u16string progressClass = Find(t, IDC_PROGRESS)->className;
  for (char16_t& ch : progressClass) ch = (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
  EXPECT_EQ(progressClass, u"msctls_progress32");

  for (int id : {1004, 1005, 1008, 1010, 1011}) {
    const Control* c = Find(t, id);
    ASSERT_NE(c, nullptr) << id;
    EXPECT_EQ(c->classOrdinal, kEditClass) << id;
    EXPECT_FALSE(c->Visible()) << id;
    EXPECT_TRUE(c->style & ES_READONLY) << id;
  }
  const Control* cancel = Find(t, IDCANCEL);
  ASSERT_NE(cancel, nullptr);
  EXPECT_FALSE(cancel->Visible());
  EXPECT_TRUE(cancel->Disabled());

  int hiddenLabels = 0;
  for (const Control& c : t.controls) {
    if ((c.text == u"Current Firmware Version" || c.text == u"Update Firmware Ver.") && !c.Visible()) {
      ++hiddenLabels;
    }
  }
  EXPECT_EQ(hiddenLabels, 2);
}

TEST(Resources, TermsAndAboutTemplates) {
  const Template terms = LoadTemplate(IDD_TERMS);
  EXPECT_EQ(terms.cx, 310);
  EXPECT_EQ(terms.cy, 152);
  EXPECT_EQ(terms.typeface, u"FixedSys");
  EXPECT_EQ(terms.pointSize, 14);
  EXPECT_TRUE(terms.style & WS_SYSMENU);
  ExpectControls(terms, {{1, 185, 137, 50, 14}, {2, 258, 137, 50, 14}, {1004, 1, 4, 307, 130}}, IDD_TERMS);
  ASSERT_EQ(terms.controls.size(), 3u);
  EXPECT_EQ(terms.controls[0].text, u"Agree");
  EXPECT_FALSE(terms.controls[0].style & WS_TABSTOP);
  EXPECT_EQ(terms.controls[1].text, u"Not Agree");
  EXPECT_EQ(terms.controls[1].ButtonType(), static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(FirstTabStop(terms), IDCANCEL) << "Enter must choose Not Agree";
  const std::uint32_t editStyle = terms.controls[2].style;
  EXPECT_EQ(editStyle & (ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP),
            static_cast<std::uint32_t>(ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP));

  const Template about = LoadTemplate(IDD_ABOUTBOX);
  EXPECT_EQ(about.cx, 306);
  EXPECT_EQ(about.cy, 61);
  EXPECT_EQ(about.title, u"About  Firmware Update Utility");
  EXPECT_EQ(about.typeface, u"MS Sans Serif");
  EXPECT_TRUE(about.style & WS_SYSMENU);
  ASSERT_NE(Find(about, IDOK), nullptr);
  ASSERT_NE(Find(about, IDC_ABOUTMODEL), nullptr);
  EXPECT_TRUE(Find(about, IDC_ABOUTMODEL)->Visible());
  EXPECT_TRUE(Find(about, IDC_ABOUTMODEL)->style & ES_READONLY);
  ASSERT_NE(Find(about, IDC_ABOUTFIRMVERSION), nullptr);
  EXPECT_FALSE(Find(about, IDC_ABOUTFIRMVERSION)->Visible());
  // Where the update log is: a read-only line the user can select and copy, inside the box.
  const Control* logLine = Find(about, IDC_ABOUTLOG);
  ASSERT_NE(logLine, nullptr);
  EXPECT_TRUE(logLine->Visible());
  EXPECT_TRUE(logLine->style & ES_READONLY);
  EXPECT_LE(logLine->x + logLine->cx, about.cx);
  EXPECT_LE(logLine->y + logLine->cy, about.cy);
  bool productText = false, versionText = false;
  for (const Control& c : about.controls) {
    productText |= c.text == u"Firmware Update Utility";
    versionText |= c.text == u"Ver.5.2.0";
  }
  EXPECT_TRUE(productText);
  EXPECT_TRUE(versionText);
}

TEST(Resources, MenuStringsIconVersionAndManifest) {
  // Menu 129: one item, right-aligned on the bar, and nothing else.
  const std::vector<std::uint8_t> menu = ResourceBytes(IDR_MAINMENU, MAKEINTRESOURCEA(4));  // RT_MENU
  ASSERT_GE(menu.size(), 4u + 6u);
  std::uint16_t flags = 0, id = 0;
  std::memcpy(&flags, &menu[4], 2);
  std::memcpy(&id, &menu[6], 2);
  EXPECT_TRUE(flags & MF_HELP) << "the About item is right-aligned";
  EXPECT_TRUE(flags & MF_END) << "the only item";
  EXPECT_FALSE(flags & MF_POPUP);
  EXPECT_EQ(id, IDM_ABOUT);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(&menu[8]), 5), u"About");

  HINSTANCE self = ::GetModuleHandleA(nullptr);
  char text[64];
  ASSERT_GT(::LoadStringA(self, IDS_ABOUTBOX, text, sizeof text), 0);
  EXPECT_STREQ(text, "&About Corvell...");
  const std::vector<std::pair<int, const char*>> names = {
      {102, "warning"}, {105, "reboot"}, {106, "rebootj"}, {108, "warningj"}, {109, "cancel"}, {110, "cancelj"},
      {111, "end"},     {112, "endj"},   {113, "start"},   {114, "startj"}};
  for (const auto& name : names) {
    ASSERT_GT(::LoadStringA(self, name.first, text, sizeof text), 0) << name.first;
    EXPECT_STREQ(text, name.second);
  }

  EXPECT_NE(::LoadIconA(self, MAKEINTRESOURCEA(IDR_MAINFRAME)), nullptr);

  // VS_FIXEDFILEINFO starts with its signature; the file version follows the
  // structure version.
  const std::vector<std::uint8_t> version = ResourceBytes(1, MAKEINTRESOURCEA(16));  // RT_VERSION
  const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
  auto at = std::search(version.begin(), version.end(), std::begin(signature), std::end(signature));
  ASSERT_TRUE(at != version.end());
  const std::size_t offset = static_cast<std::size_t>(at - version.begin());
  ASSERT_LE(offset + 16, version.size());
  std::uint32_t high = 0, low = 0;
  std::memcpy(&high, &version[offset + 8], 4);
  std::memcpy(&low, &version[offset + 12], 4);
  EXPECT_EQ(high, (5u << 16) | 2u);
  EXPECT_EQ(low, 0u);

  const std::vector<std::uint8_t> manifest = ResourceBytes(1, MAKEINTRESOURCEA(24));  // RT_MANIFEST
  const std::string xml(manifest.begin(), manifest.end());
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

}  // namespace
