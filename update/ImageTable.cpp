#include "update/ImageTable.h"

namespace qx {

const ImageTable& BuiltInImages() {
  static const ImageTable table{{&GetFirmwareImage(0), &GetFirmwareImage(1)}, &UnscrambleTable};
  return table;
}

}  // namespace qx
