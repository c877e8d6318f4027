#include <gtest/gtest.h>

#include "text/TextCatalogue.h"

namespace qx {
namespace {

TextId IdAt(std::size_t i) { return static_cast<TextId>(i); }

TEST(TextCatalogue, CodePage932AloneSelectsJapanese) {
  EXPECT_EQ(LanguageFor(932), Language::Japanese);
  for (int cp : {0, 437, 850, 936, 949, 950, 1252, 65001}) {
    EXPECT_EQ(LanguageFor(cp), Language::English) << cp;
  }
}

TEST(TextCatalogue, EnglishTextsArePlainAscii) {
  for (std::size_t i = 0; i < kTextIdCount; ++i) {
    for (unsigned char c : Text(IdAt(i), Language::English)) {
      EXPECT_LT(c, 0x80) << "text id " << i;
    }
  }
}

TEST(TextCatalogue, OnlyTheDeliberateGapsAreEmpty) {
  for (std::size_t i = 0; i < kTextIdCount; ++i) {
    const TextId id = IdAt(i);
    const bool rebootNotice = id == TextId::RebootNotice;  // the caller always sets it
    EXPECT_EQ(Text(id, Language::English).empty(), rebootNotice || id == TextId::ErrorPrefix)
        << "text id " << i;
    EXPECT_EQ(Text(id, Language::Japanese).empty(), rebootNotice) << "text id " << i;
  }
}

TEST(TextCatalogue, RebootConfirmationJapaneseDependsOnResumeEntry) {
  const std::string& withResume = Text(TextId::RebootConfirm, Language::Japanese);
  const std::string& without = Text(TextId::RebootConfirmNoResume, Language::Japanese);
  EXPECT_NE(withResume, without);
  EXPECT_EQ(Text(TextId::RebootConfirm, Language::English),
            Text(TextId::RebootConfirmNoResume, Language::English));
  // Both keep the two lines they share, each line ended with CR LF.
  const std::string shared =
      "ファームウェアを書き換えられるCD ドライブが見つかりました。\r\n"
      "ファームウェアを書き換えられるようシステム設定を変更して再起動します。\r\n";
  EXPECT_EQ(withResume.compare(0, shared.size(), shared), 0);
  EXPECT_EQ(without.compare(0, shared.size(), shared), 0);
  EXPECT_EQ(without.substr(shared.size()), "再起動後もう一度このプログラムを実行してください。");
}

TEST(TextCatalogue, FormatTextReplacesEveryPlaceholderAndNothingElse) {
  EXPECT_EQ(FormatText("a %s b %s", "X"), "a X b X");
  EXPECT_EQ(FormatText("100% %d %", "X"), "100% %d %");
  EXPECT_EQ(FormatText("%s", "%s"), "%s");  // the argument is not scanned again
  const std::string notFound =
      FormatText(Text(TextId::TargetNotFound, Language::English), "DVD-ROM QX-M4471");
  EXPECT_EQ(notFound,
            "Target CD-Drive not found, The Update applies to VELMORA DVD-ROM QX-M4471 CD-Drives "
            "Only.\r\nIf you insert a drive, please restart the computer and retry the update "
            "operation.");
  EXPECT_EQ(FormatText(Text(TextId::MainCaption, Language::Japanese), "DVD-ROM QX-M4471"),
            "Firmware Update Utility Ver.5.2.0 for  DVD-ROM QX-M4471");
}

}  // namespace
}  // namespace qx
