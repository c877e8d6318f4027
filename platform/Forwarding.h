#pragma once
// Seams that pass every call on to another implementation of the same seam. A
// wrapper that watches or changes one call (scaled waits, a transcript of sleeps,
// phase marks, a trace of the worker, a refused request, a checked buffer) derives
// from one of these and overrides only that call.
#include <cstdint>

#include "platform/PassThroughPort.h"
#include "platform/Registry.h"
#include "platform/Threads.h"

namespace qx {

class ForwardingThreads : public Threads {
 public:
  explicit ForwardingThreads(Threads& inner) : inner(inner) {}

  ThreadRef CreateSuspended(ThreadProc procedure, void* argument) override {
    return inner.CreateSuspended(procedure, argument);
  }
  bool DuplicateHandle(ThreadRef thread, ThreadRef* duplicate) override {
    return inner.DuplicateHandle(thread, duplicate);
  }
  std::uint32_t ResumeThread(ThreadRef thread) override { return inner.ResumeThread(thread); }
  bool GetExitCodeThread(ThreadRef handle, std::uint32_t* exitCode) override {
    return inner.GetExitCodeThread(handle, exitCode);
  }
  void CloseHandle(ThreadRef handle) override { inner.CloseHandle(handle); }
  void Sleep(std::uint32_t milliseconds) override { inner.Sleep(milliseconds); }
  std::int64_t Time() override { return inner.Time(); }

 protected:
  Threads& inner;
};

class ForwardingPassThroughPort : public PassThroughPort {
 public:
  explicit ForwardingPassThroughPort(PassThroughPort& inner) : inner(inner) {}

  std::uint32_t GetDriveType(const char* rootName) override { return inner.GetDriveType(rootName); }
  PortHandle Open(const char* path) override { return inner.Open(path); }
  bool SendPassThrough(PortHandle handle, PassThroughRequest* block,
                       std::uint32_t* bytesReturned) override {
    return inner.SendPassThrough(handle, block, bytesReturned);
  }
  bool GetCapabilities(PortHandle handle, IoScsiCapabilities* capabilities,
                       std::uint32_t* bytesReturned) override {
    return inner.GetCapabilities(handle, capabilities, bytesReturned);
  }
  void Close(PortHandle handle) override { inner.Close(handle); }
  std::uint32_t GetLastError() override { return inner.GetLastError(); }
  bool FormatMessage(std::uint32_t error, std::uint32_t size, std::string* text) override {
    return inner.FormatMessage(error, size, text);
  }

 protected:
  PassThroughPort& inner;
};

class ForwardingRegistry : public Registry {
 public:
  explicit ForwardingRegistry(Registry& inner) : inner(inner) {}

  RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                      std::uint32_t access, RegKey* result, std::uint32_t* disposition) override {
    return inner.CreateKey(parent, subKey, options, access, result, disposition);
  }
  RegStatus OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                    RegKey* result) override {
    return inner.OpenKey(parent, subKey, access, result);
  }
  RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override {
    return inner.QueryValue(key, name, type, data, size);
  }
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                     std::uint32_t size) override {
    return inner.SetValue(key, name, type, data, size);
  }
  RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                    std::uint32_t* nameLength) override {
    return inner.EnumKey(key, index, name, nameLength);
  }
  RegStatus DeleteKey(RegKey key, const char* subKey) override {
    return inner.DeleteKey(key, subKey);
  }
  RegStatus DeleteValue(RegKey key, const char* name) override {
    return inner.DeleteValue(key, name);
  }
  RegStatus CloseKey(RegKey key) override { return inner.CloseKey(key); }
  RegStatus FlushKey(RegKey key) override { return inner.FlushKey(key); }

 protected:
  Registry& inner;
};

}  // namespace qx
