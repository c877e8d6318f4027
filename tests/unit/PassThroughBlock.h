// A pass-through request block filled the way the transport fills it, for tests
// that speak to a simulated port directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/PassThroughRequest.h"

namespace qx {

struct PassThroughBlock {
  std::unique_ptr<PassThroughRequest> request = std::make_unique<PassThroughRequest>();

  PassThroughBlock(const std::vector<std::uint8_t>& cdb, std::uint8_t dataIn,
                   std::uint32_t length) {
    std::memset(request.get(), 0, sizeof *request);
    ScsiPassThroughDirect& s = request->spt;
    s.Length = sizeof(ScsiPassThroughDirect);
    s.TargetId = 1;
    s.CdbLength = static_cast<std::uint8_t>(cdb.size());
    s.SenseInfoLength = passthrough::kSenseLength;
    s.DataIn = dataIn;
    s.DataTransferLength = length;
    s.TimeOutValue = passthrough::kPortTimeoutSeconds;
    s.DataBuffer = Data();
    s.SenseInfoOffset = offsetof(PassThroughRequest, senseData);
    std::memcpy(s.Cdb, cdb.data(), cdb.size());
  }
  // The data sits on the first 16-byte boundary inside the staging area.
  std::uint8_t* Data() {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(request->staging) + 16;
    return request->staging + ((start & ~std::uintptr_t(15)) - start + 16);
  }
  PassThroughRequest* get() { return request.get(); }
  ScsiPassThroughDirect& spt() { return request->spt; }
};

}  // namespace qx
