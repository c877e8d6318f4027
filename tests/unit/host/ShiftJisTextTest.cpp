#include <gtest/gtest.h>

#include <string>

#include "IconvText.h"
#include "ui/TermsDialog.h"
#include "text/TextCatalogue.h"

namespace qx {
namespace {

// Windows shows the Japanese texts through the ANSI calls under code page 932, so each
// must survive the trip to Shift-JIS and back without a character lost or replaced.
void ExpectRoundTrip(const std::string& text, const std::string& what) {
  std::string sjis;
  ASSERT_TRUE(ConvertText("CP932", "UTF-8", text, sjis)) << what;
  std::string back;
  ASSERT_TRUE(ConvertText("UTF-8", "CP932", sjis, back)) << what;
  EXPECT_EQ(back, text) << what;
}

TEST(ShiftJisText, EveryJapaneseTextSurvivesCodePage932) {
  for (std::size_t i = 0; i < kTextIdCount; ++i) {
    ExpectRoundTrip(Text(static_cast<TextId>(i), Language::Japanese),
                    "text id " + std::to_string(i));
  }
  ExpectRoundTrip(TermsDialog(Language::Japanese).TermsText(), "formatted terms");
}

TEST(ShiftJisText, ConversionCheckCatchesCharactersOutsideShiftJis) {
  // Guards the test above: a character Shift-JIS cannot hold must be reported.
  std::string out;
  EXPECT_FALSE(ConvertText("CP932", "UTF-8", "\xF0\x9F\x98\x80", out));  // an emoji
  EXPECT_TRUE(ConvertText("CP932", "UTF-8", "アップデート中…", out));
  EXPECT_EQ(out.size(), 16u);  // eight double-byte characters
}

TEST(ShiftJisText, JapaneseTermsFitTheEditControlInShiftJisBytes) {
  // The ANSI edit control counts bytes; the text must not be cut.
  std::string sjis;
  ASSERT_TRUE(ConvertText("CP932", "UTF-8", TermsDialog(Language::Japanese).TermsText(), sjis));
  EXPECT_LE(sjis.size(), TermsDialog::kMaxTextChars);
}

}  // namespace
}  // namespace qx
