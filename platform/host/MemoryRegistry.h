#pragma once
// An in-memory registry with the behaviour of either platform family, so that the
// registry logic runs natively and whole machines can be set up, watched and kept
// across a simulated restart.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace qx {

enum class RegistryFlavor {
  // Windows 2000/XP: subkeys enumerate sorted case-insensitively; a key that still
  // has subkeys cannot be deleted.
  Nt,
  // Windows 95/98/ME: subkeys enumerate in creation order; deleting a key removes
  // its whole subtree.
  Windows9x,
};

// One change the registry made, reported to the write observer after it happened.
struct RegistryWrite {
  enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey };
  Kind kind = Kind::SetValue;
  std::string keyPath;    // "HKCU\Software\..." with the names as they were created
  std::string valueName;  // SetValue and DeleteValue only
  std::uint32_t type = 0;  // SetValue only
  std::vector<std::uint8_t> data;  // SetValue only
};

// "REG CREATE HKCU\...", "REG SET HKCU\... "Changed" 4 1", "REG DELVALUE ...",
// "REG DELKEY ...": one transcript line per write.
std::string DescribeRegistryWrite(const RegistryWrite& write);

class MemoryRegistry : public Registry {
 public:
  explicit MemoryRegistry(RegistryFlavor flavor = RegistryFlavor::Nt);
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  RegStatus CreateKey(RegKey parent, const char* subKey, std::uint32_t options,
                      std::uint32_t access, RegKey* result,
                      std::uint32_t* disposition) override;
  RegStatus OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                    RegKey* result) override;
  RegStatus QueryValue(RegKey key, const char* name, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
  RegStatus SetValue(RegKey key, const char* name, std::uint32_t type,
                     const std::uint8_t* data, std::uint32_t size) override;
  RegStatus EnumKey(RegKey key, std::uint32_t index, char* name,
                    std::uint32_t* nameLength) override;
  RegStatus DeleteKey(RegKey key, const char* subKey) override;
  RegStatus DeleteValue(RegKey key, const char* name) override;
  RegStatus CloseKey(RegKey key) override;
  // Makes the key's hive durable: what a power cut keeps of it.
  RegStatus FlushKey(RegKey key) override;

  RegistryFlavor flavor() const { return registryFlavor; }

  // --- Watching the writes -------------------------------------------------
  // Called after every write that changed the tree (a create only when it made a
  // new key: once per key it made).
  void SetWriteObserver(std::function<void(const RegistryWrite&)> observer);
  // Writes that changed the tree since construction (seeding below not counted).
  std::size_t writeCount() const { return writesMade; }
  // Crash simulation: once `budget` more writes have gone through, every further
  // write fails with ERROR_ACCESS_DENIED and changes nothing, as if the machine had
  // stopped there. Reads go on working. ClearWriteBudget lifts it.
  void SetWriteBudget(std::size_t budget);
  void ClearWriteBudget();

  // Refuse write access to one key (and deletion of it), as a key whose security
  // forbids it would. Opening it with KEY_ALL_ACCESS then fails with
  // ERROR_ACCESS_DENIED; opening it with KEY_READ works.
  void SetKeyProtected(RegKey root, const std::string& path, bool protect);

  // --- Power cuts -----------------------------------------------------------
  // Each hive (HKCU, HKLM, HKEY_DYN_DATA) has a durable copy: the hive as it was
  // before the first write through the seam (setting up counts as on disk; so
  // does a Load), advanced to the hive as it is by a flush of any of its keys.
  // A power cut puts every hive back to its durable copy, except those in
  // `writtenBack`, whose lazy write-back happened to finish: they keep all they
  // hold. Handles are closed. The durable copies then are the hives as they are.
  void PowerCut(const std::vector<RegKey>& writtenBack = {});
  // Flushes so far, for the tests.
  std::size_t flushCount() const { return flushesMade; }

  // Handles open now (roots not counted): leak checks.
  std::size_t openHandleCount() const { return openHandles.size(); }

  // --- Setting up and looking at a machine --------------------------------
  // These bypass handles, the observer and the write budget. Paths are relative
  // to one of the three roots, components separated by backslashes.
  void PutValue(RegKey root, const std::string& path, const std::string& name,
                std::uint32_t type, const std::vector<std::uint8_t>& data);
  // Stores the text with its terminating zero, as REG_SZ.
  void PutString(RegKey root, const std::string& path, const std::string& name,
                 const std::string& text);
  void PutDword(RegKey root, const std::string& path, const std::string& name,
                std::uint32_t value);
  void PutKey(RegKey root, const std::string& path);
  bool KeyExists(RegKey root, const std::string& path) const;
  // False when the key or value is missing.
  bool GetValue(RegKey root, const std::string& path, const std::string& name,
                std::uint32_t* type, std::vector<std::uint8_t>* data) const;

  // The whole tree as text, roots in a fixed order, subkeys in enumeration order,
  // values in creation order. Two registries hold the same keys and values exactly
  // when their dumps are equal.
  std::string Dump() const;
  // Dump() of one root only.
  std::string Dump(RegKey root) const;
  // Replace the whole tree with one read from Dump() text; false (tree unchanged)
  // when the text is malformed. Handles are closed.
  bool Load(const std::string& text);
  bool SaveToFile(const std::string& fileName) const;
  bool LoadFromFile(const std::string& fileName);

 private:
  struct Node;
  struct Handle {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;
  };

  std::shared_ptr<Node> Resolve(RegKey key, RegStatus* status, std::uint32_t* access) const;
  std::shared_ptr<Node> RootNode(RegKey root) const;
  std::shared_ptr<Node> FindPath(const std::shared_ptr<Node>& from, const std::string& path) const;
  std::shared_ptr<Node> MakePath(const std::shared_ptr<Node>& from, const std::string& path,
                                 bool observe, bool* created, RegStatus* status);
  RegKey NewHandle(std::shared_ptr<Node> node, std::uint32_t access);
  bool WriteAllowed();
  void Report(RegistryWrite write);
  void DetachChild(Node& parent, const std::shared_ptr<Node>& child);
  void DumpNode(const Node& node, const std::string& path, std::string* out) const;
  std::vector<std::shared_ptr<Node>> OrderedChildren(const Node& node) const;
  static std::shared_ptr<Node> Clone(const Node& node, Node* parent);
  std::shared_ptr<Node>* LiveRoot(RegKey root);
  std::shared_ptr<Node>* DurableRoot(RegKey root);
  // Before the first write through the seam: the hives as set up are on disk.
  void KeepSetupAsDurable();

  RegistryFlavor registryFlavor;
  std::shared_ptr<Node> currentUserRoot;
  std::shared_ptr<Node> localMachineRoot;
  std::shared_ptr<Node> dynDataRoot;
  std::shared_ptr<Node> durableCurrentUser;  // null until the first write
  std::shared_ptr<Node> durableLocalMachine;
  std::shared_ptr<Node> durableDynData;
  std::size_t flushesMade = 0;
  std::map<RegKey, Handle> openHandles;
  RegKey nextHandle = 0x1000;
  std::function<void(const RegistryWrite&)> writeObserver;
  std::size_t writesMade = 0;
  bool budgetSet = false;
  std::size_t writeBudget = 0;
};

}  // namespace qx
