#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "text/TextCatalogue.h"

namespace qx {

namespace {

// Texts the dialog templates carry themselves must read as the catalogue says; a
// wording changed in one place only is the drift the catalogue exists to prevent.
TEST(ResourceTexts, TemplateTextsMatchTheCatalogue) {
  std::ifstream in(std::string(QX_SOURCE_DIR) + "/res/qxupdate.rc", std::ios::binary);
  ASSERT_TRUE(in) << "resource script not found";
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string rc = buffer.str();
  // The About box's version is not here: the template and the catalogue both take it
  // from the generated Version.h, and the release_version test reads it back from the
  // built program.
  for (TextId id : {TextId::AboutNotice, TextId::AboutCaption, TextId::AboutProduct,
                    TextId::AboutFirmLabel, TextId::AgreeButton,
                    TextId::NotAgreeButton, TextId::UpdateStartButton, TextId::CancelButton,
                    TextId::AboutSystemMenu}) {
    const std::string quoted = "\"" + Text(id, Language::English) + "\"";
    EXPECT_NE(rc.find(quoted), std::string::npos) << quoted;
  }
  EXPECT_NE(rc.find("\"" + Text(TextId::CancelButton, Language::Japanese) + "\""),
            std::string::npos);
}

}  // namespace
}  // namespace qx
