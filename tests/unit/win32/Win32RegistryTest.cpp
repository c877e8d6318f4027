#include "RegistryConformanceCases.h"
#include "platform/win32/Win32Registry.h"

namespace qx {
namespace {

std::unique_ptr<Registry> MakeWin32Registry() { return std::make_unique<Win32Registry>(); }

INSTANTIATE_TEST_SUITE_P(Win32, RegistryConformance, ::testing::Values(&MakeWin32Registry));

}  // namespace
}  // namespace qx
