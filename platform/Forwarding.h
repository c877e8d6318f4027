#pragma once
// Seams that pass every call on to another implementation of the same seam. A
// wrapper that watches or changes one call (scaled waits, a transcript of sleeps,
// phase marks, a trace of the worker) derives from one of these and
// overrides only that call.
#include <cstdint>

#include "platform/PassThroughPort.h"
#include "platform/Threads.h"

namespace qx {

class ForwardingThreads : public Threads {
 public:
  explicit ForwardingThreads(Threads& inner) : inner_(inner) {}

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override {
    return inner_.CreateSuspended(procedure, argument);
  }
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override {
    return inner_.DuplicateHandle(thread, duplicate);
  }
  std::uint32_t ResumeThread(ThreadRef thread) override { return inner_.ResumeThread(thread); }
  bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) override {
    return inner_.GetExitCodeThread(handle, exitCode);
  }
  void CloseHandle(ThreadRef handle) override { inner_.CloseHandle(handle); }
  void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  std::int64_t Time() override { return inner_.Time(); }

 protected:
  Threads& inner_;
};

class ForwardingPassThroughPort : public PassThroughPort {
 public:
  explicit ForwardingPassThroughPort(PassThroughPort& inner) : inner_(inner) {}

  std::uint32_t GetDriveType(const char* rootName) override { return inner_.GetDriveType(rootName); }
  PortHandle Open(const char* path) override { return inner_.Open(path); }
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    return inner_.SendPassThrough(handle, block, bytesReturned);
  }
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    return inner_.GetCapabilities(handle, capabilities, bytesReturned);
  }
  void Close(PortHandle handle) override { inner_.Close(handle); }
  std::uint32_t GetLastError() override { return inner_.GetLastError(); }
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    return inner_.FormatMessage(error, size, text);
  }

 protected:
  PassThroughPort& inner_;
};

}  // namespace qx
