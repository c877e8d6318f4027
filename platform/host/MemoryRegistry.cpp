#include "platform/host/MemoryRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/AsciiText.h"

namespace qx {

namespace {

// Access bits that ask for more than reading.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kWriteBits = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 |
                                     0x00080000;
constexpr std::uint32_t kMaxKeyNameLength = 255;

// REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ.
bool IsText(std::uint32_t type) { return type == 1 || type == 2 || type == 7; }

using ascii::Upper;

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// The order NT keeps subkeys in: by their upper-case form.
bool NameBefore(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(Upper(a[i]));
    unsigned char cb = static_cast<unsigned char>(Upper(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

std::vector<std::string> SplitPath(const std::string& path) {
  return ascii::Split(path, "\\");
}

const char* RootName(RegKey root) {
  switch (root) {
    case reg::kCurrentUser: return "HKCU";
    case reg::kLocalMachine: return "HKLM";
    case reg::kDynData: return "HKDD";
    default: return "?";
  }
}

// Names in the dump: printable characters as they are, the rest as %HH, so that
// every line splits back unambiguously.
std::string Escape(const std::string& text) {
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '[' || c == ']' || c == '\\' ||
        c == '=') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = HexDigit(text[i + 1]);
    int lo = HexDigit(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

}  // namespace

struct MemoryRegistry::Node {
  struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
  };
  std::string name;
  Node* parent = nullptr;  // null for a root and for a deleted key
  std::vector<std::shared_ptr<Node>> children;  // in creation order
  std::vector<Value> values;                    // in creation order
  bool deleted = false;
  bool protectedKey = false;
  std::string rootName;  // roots only

  std::shared_ptr<Node> Child(const std::string& childName) const {
    for (const auto& c : children) {
      if (SameName(c->name, childName)) return c;
    }
    return nullptr;
  }
  Value* FindValue(const std::string& valueName) {
    for (auto& v : values) {
      if (SameName(v.name, valueName)) return &v;
    }
    return nullptr;
  }
  std::string Path() const {
    if (parent == nullptr) return rootName.empty() ? name : rootName;
    return parent->Path() + "\\" + name;
  }
};

std::string DescribeRegistryWrite(const RegistryWrite& write) {
  switch (write.kind) {
    case RegistryWrite::Kind::CreateKey:
      return "REG CREATE " + write.keyPath;
    case RegistryWrite::Kind::DeleteKey:
      return "REG DELKEY " + write.keyPath;
    case RegistryWrite::Kind::DeleteValue:
      return "REG DELVALUE " + write.keyPath + " \"" + write.valueName + "\"";
    case RegistryWrite::Kind::SetValue:
      break;
  }
  std::string line = "REG SET " + write.keyPath + " \"" + write.valueName + "\" " +
                     std::to_string(write.type) + " ";
  if (write.type == reg::kTypeDword && write.data.size() == 4) {
    std::uint32_t v = static_cast<std::uint32_t>(write.data[0]) |
                      static_cast<std::uint32_t>(write.data[1]) << 8 |
                      static_cast<std::uint32_t>(write.data[2]) << 16 |
                      static_cast<std::uint32_t>(write.data[3]) << 24;
    line += std::to_string(v);
  } else if (write.type == reg::kTypeString) {
    // Up to the first zero: the filler behind a fixed-length text means nothing.
    std::string text;
    for (std::uint8_t b : write.data) {
      if (b == 0) break;
      text.push_back(static_cast<char>(b));
    }
    line += "\"" + text + "\" len=" + std::to_string(write.data.size());
  } else {
    for (std::size_t i = 0; i < write.data.size(); ++i) {
      char buf[4];
      std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", write.data[i]);
      line += buf;
    }
  }
  return line;
}

MemoryRegistry::MemoryRegistry(RegistryFlavor flavor)
    : registryFlavor(flavor),
      currentUserRoot(std::make_shared<Node>()),
      localMachineRoot(std::make_shared<Node>()),
      dynDataRoot(std::make_shared<Node>()) {
  currentUserRoot->rootName = "HKCU";
  localMachineRoot->rootName = "HKLM";
  dynDataRoot->rootName = "HKDD";
}

MemoryRegistry::~MemoryRegistry() = default;

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::RootNode(RegKey root) const {
  switch (root) {
    case reg::kCurrentUser: return currentUserRoot;
    case reg::kLocalMachine: return localMachineRoot;
    case reg::kDynData: return dynDataRoot;
    default: return nullptr;
  }
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Resolve(RegKey key, RegStatus* status,
                                                              std::uint32_t* access) const {
  std::shared_ptr<Node> node = RootNode(key);
  std::uint32_t rights = reg::kKeyAllAccess;
  if (node == nullptr) {
    auto it = openHandles.find(key);
    if (it == openHandles.end()) {
      *status = reg::kInvalidHandle;
      return nullptr;
    }
    node = it->second.node;
    rights = it->second.access;
  }
  if (node->deleted) {
    *status = reg::kKeyDeleted;
    return nullptr;
  }
  if (access != nullptr) *access = rights;
  *status = reg::kSuccess;
  return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindPath(const std::shared_ptr<Node>& from,
                                                               const std::string& path) const {
  std::shared_ptr<Node> node = from;
  for (const std::string& part : SplitPath(path)) {
    node = node->Child(part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

bool MemoryRegistry::WriteAllowed() {
  if (!budgetSet) return true;
  if (writeBudget == 0) return false;
  --writeBudget;
  return true;
}

void MemoryRegistry::Report(RegistryWrite write) {
  ++writesMade;
  if (writeObserver) writeObserver(write);
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::MakePath(const std::shared_ptr<Node>& from,
                                                               const std::string& path,
                                                               bool observe, bool* created,
                                                               RegStatus* status) {
  *created = false;
  *status = reg::kSuccess;
  std::shared_ptr<Node> node = from;
  for (const std::string& part : SplitPath(path)) {
    std::shared_ptr<Node> child = node->Child(part);
    if (child == nullptr) {
      if (part.size() > kMaxKeyNameLength) {
        *status = reg::kInvalidParameter;
        return nullptr;
      }
      if (observe) {
        if (node->protectedKey || !WriteAllowed()) {
          *status = reg::kAccessDenied;
          return nullptr;
        }
      }
      child = std::make_shared<Node>();
      child->name = part;
      child->parent = node.get();
      node->children.push_back(child);
      *created = true;
      if (observe) {
        RegistryWrite w;
        w.kind = RegistryWrite::Kind::CreateKey;
        w.keyPath = child->Path();
        Report(std::move(w));
      }
    }
    node = child;
  }
  return node;
}

RegKey MemoryRegistry::NewHandle(std::shared_ptr<Node> node, std::uint32_t access) {
  RegKey handle = nextHandle;
  nextHandle += 4;
  openHandles[handle] = Handle{std::move(node), access};
  return handle;
}

RegStatus MemoryRegistry::CreateKey(RegKey parent, const char* subKey, std::uint32_t /*options*/,
                                    std::uint32_t access, RegKey* result,
                                    std::uint32_t* disposition) {
  if (result == nullptr) return reg::kInvalidParameter;
  *result = 0;
  RegStatus status;
  std::shared_ptr<Node> from = Resolve(parent, &status, nullptr);
  if (from == nullptr) return status;
  std::shared_ptr<Node> existing = FindPath(from, subKey ? subKey : "");
  if (existing != nullptr) {
    if (existing->protectedKey && (access & kWriteBits) != 0) return reg::kAccessDenied;
    *result = NewHandle(existing, access);
    if (disposition != nullptr) *disposition = reg::kOpenedExistingKey;
    return reg::kSuccess;
  }
  bool created = false;
  std::shared_ptr<Node> node = MakePath(from, subKey ? subKey : "", true, &created, &status);
  if (node == nullptr) return status;
  *result = NewHandle(node, access);
  if (disposition != nullptr) *disposition = reg::kCreatedNewKey;
  return reg::kSuccess;
}

RegStatus MemoryRegistry::OpenKey(RegKey parent, const char* subKey, std::uint32_t access,
                                  RegKey* result) {
  if (result == nullptr) return reg::kInvalidParameter;
  *result = 0;
  RegStatus status;
  std::shared_ptr<Node> from = Resolve(parent, &status, nullptr);
  if (from == nullptr) return status;
  std::shared_ptr<Node> node = FindPath(from, subKey ? subKey : "");
  if (node == nullptr) return reg::kFileNotFound;
  if (node->protectedKey && (access & kWriteBits) != 0) return reg::kAccessDenied;
  *result = NewHandle(node, access);
  return reg::kSuccess;
}

RegStatus MemoryRegistry::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                     std::uint8_t* data, std::uint32_t* size) {
  RegStatus status;
  std::uint32_t access = 0;
  std::shared_ptr<Node> node = Resolve(key, &status, &access);
  if (node == nullptr) return status;
  if ((access & kKeyQueryValue) == 0) return reg::kAccessDenied;
  if (data != nullptr && size == nullptr) return reg::kInvalidParameter;
  Node::Value* value = node->FindValue(name ? name : "");
  if (value == nullptr) return reg::kFileNotFound;
  if (type != nullptr) *type = value->type;
  std::uint32_t length = static_cast<std::uint32_t>(value->data.size());
  if (data == nullptr) {
    if (size != nullptr) *size = length;
    return reg::kSuccess;
  }
  if (*size < length) {
    *size = length;
    return reg::kMoreData;
  }
  if (length > 0) std::memcpy(data, value->data.data(), length);
  // NT terminates a text stored without its zero when the buffer has room for
  // one, and does not count it.
  if (registryFlavor == RegistryFlavor::Nt && IsText(value->type) && length < *size &&
      (length == 0 || data[length - 1] != 0)) {
    data[length] = 0;
  }
  *size = length;
  return reg::kSuccess;
}

RegStatus MemoryRegistry::SetValue(RegKey key, const char* name, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t size) {
  RegStatus status;
  std::uint32_t access = 0;
  std::shared_ptr<Node> node = Resolve(key, &status, &access);
  if (node == nullptr) return status;
  if ((access & kKeySetValue) == 0) return reg::kAccessDenied;
  if (data == nullptr && size != 0) return reg::kInvalidParameter;
  // NT stores the zero of a text whose caller forgot to count it, when one follows.
  if (registryFlavor == RegistryFlavor::Nt && IsText(type) && size > 0 && data[size - 1] != 0 &&
      data[size] == 0) {
    ++size;
  }
  if (!WriteAllowed()) return reg::kAccessDenied;
  std::vector<std::uint8_t> bytes(data, data + size);
  Node::Value* value = node->FindValue(name ? name : "");
  if (value == nullptr) {
    node->values.push_back(Node::Value{name ? name : "", type, bytes});
  } else {
    value->type = type;
    value->data = bytes;
  }
  RegistryWrite w;
  w.kind = RegistryWrite::Kind::SetValue;
  w.keyPath = node->Path();
  w.valueName = name ? name : "";
  w.type = type;
  w.data = std::move(bytes);
  Report(std::move(w));
  return reg::kSuccess;
}

std::vector<std::shared_ptr<MemoryRegistry::Node>> MemoryRegistry::OrderedChildren(
    const Node& node) const {
  std::vector<std::shared_ptr<Node>> ordered = node.children;
  if (registryFlavor == RegistryFlavor::Nt) {
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) {
                       return NameBefore(a->name, b->name);
                     });
  }
  return ordered;
}

RegStatus MemoryRegistry::EnumKey(RegKey key, std::uint32_t index, char* name,
                                  std::uint32_t* nameLength) {
  RegStatus status;
  std::uint32_t access = 0;
  std::shared_ptr<Node> node = Resolve(key, &status, &access);
  if (node == nullptr) return status;
  if ((access & kKeyEnumerateSubKeys) == 0) return reg::kAccessDenied;
  if (name == nullptr || nameLength == nullptr) return reg::kInvalidParameter;
  std::vector<std::shared_ptr<Node>> ordered = OrderedChildren(*node);
  if (index >= ordered.size()) return reg::kNoMoreItems;
  const std::string& childName = ordered[index]->name;
  if (childName.size() >= *nameLength) return reg::kMoreData;
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  *nameLength = static_cast<std::uint32_t>(childName.size());
  return reg::kSuccess;
}

void MemoryRegistry::DetachChild(Node& parent, const std::shared_ptr<Node>& child) {
  parent.children.erase(std::remove(parent.children.begin(), parent.children.end(), child),
                        parent.children.end());
  // Every key of the removed subtree goes with it; handles still open on them now
  // answer that their key was deleted.
  std::vector<Node*> pending{child.get()};
  while (!pending.empty()) {
    Node* n = pending.back();
    pending.pop_back();
    n->deleted = true;
    for (const auto& c : n->children) pending.push_back(c.get());
  }
  child->parent = nullptr;
}

RegStatus MemoryRegistry::DeleteKey(RegKey key, const char* subKey) {
  RegStatus status;
  std::shared_ptr<Node> from = Resolve(key, &status, nullptr);
  if (from == nullptr) return status;
  if (subKey == nullptr) return reg::kInvalidParameter;
  std::shared_ptr<Node> target = FindPath(from, subKey);
  if (target == nullptr) return reg::kFileNotFound;
  if (target->parent == nullptr) return reg::kAccessDenied;  // a root
  if (target->protectedKey) return reg::kAccessDenied;
  if (registryFlavor == RegistryFlavor::Nt && !target->children.empty()) return reg::kAccessDenied;
  if (!WriteAllowed()) return reg::kAccessDenied;
  RegistryWrite w;
  w.kind = RegistryWrite::Kind::DeleteKey;
  w.keyPath = target->Path();
  DetachChild(*target->parent, target);
  Report(std::move(w));
  return reg::kSuccess;
}

RegStatus MemoryRegistry::DeleteValue(RegKey key, const char* name) {
  RegStatus status;
  std::uint32_t access = 0;
  std::shared_ptr<Node> node = Resolve(key, &status, &access);
  if (node == nullptr) return status;
  if ((access & kKeySetValue) == 0) return reg::kAccessDenied;
  std::string valueName = name ? name : "";
  auto it = std::find_if(node->values.begin(), node->values.end(),
                         [&](const Node::Value& v) { return SameName(v.name, valueName); });
  if (it == node->values.end()) return reg::kFileNotFound;
  if (!WriteAllowed()) return reg::kAccessDenied;
  RegistryWrite w;
  w.kind = RegistryWrite::Kind::DeleteValue;
  w.keyPath = node->Path();
  w.valueName = it->name;
  node->values.erase(it);
  Report(std::move(w));
  return reg::kSuccess;
}

RegStatus MemoryRegistry::CloseKey(RegKey key) {
  if (RootNode(key) != nullptr) return reg::kSuccess;
  auto it = openHandles.find(key);
  if (it == openHandles.end()) return reg::kInvalidHandle;
  openHandles.erase(it);
  return reg::kSuccess;
}

void MemoryRegistry::SetWriteObserver(std::function<void(const RegistryWrite&)> observer) {
  writeObserver = std::move(observer);
}

void MemoryRegistry::SetWriteBudget(std::size_t budget) {
  budgetSet = true;
  writeBudget = budget;
}

void MemoryRegistry::ClearWriteBudget() { budgetSet = false; }

void MemoryRegistry::SetKeyProtected(RegKey root, const std::string& path, bool protect) {
  std::shared_ptr<Node> rootNode = RootNode(root);
  if (rootNode == nullptr) return;
  std::shared_ptr<Node> node = FindPath(rootNode, path);
  if (node != nullptr) node->protectedKey = protect;
}

void MemoryRegistry::PutKey(RegKey root, const std::string& path) {
  std::shared_ptr<Node> rootNode = RootNode(root);
  if (rootNode == nullptr) return;
  bool created;
  RegStatus status;
  MakePath(rootNode, path, false, &created, &status);
}

void MemoryRegistry::PutValue(RegKey root, const std::string& path, const std::string& name,
                              std::uint32_t type, const std::vector<std::uint8_t>& data) {
  std::shared_ptr<Node> rootNode = RootNode(root);
  if (rootNode == nullptr) return;
  bool created;
  RegStatus status;
  std::shared_ptr<Node> node = MakePath(rootNode, path, false, &created, &status);
  if (node == nullptr) return;
  Node::Value* value = node->FindValue(name);
  if (value == nullptr) {
    node->values.push_back(Node::Value{name, type, data});
  } else {
    value->type = type;
    value->data = data;
  }
}

void MemoryRegistry::PutString(RegKey root, const std::string& path, const std::string& name,
                               const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  PutValue(root, path, name, reg::kTypeString, data);
}

void MemoryRegistry::PutDword(RegKey root, const std::string& path, const std::string& name,
                              std::uint32_t value) {
  PutValue(root, path, name, reg::kTypeDword,
           {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

bool MemoryRegistry::KeyExists(RegKey root, const std::string& path) const {
  std::shared_ptr<Node> rootNode = RootNode(root);
  return rootNode != nullptr && FindPath(rootNode, path) != nullptr;
}

bool MemoryRegistry::GetValue(RegKey root, const std::string& path, const std::string& name,
                              std::uint32_t* type, std::vector<std::uint8_t>* data) const {
  std::shared_ptr<Node> rootNode = RootNode(root);
  if (rootNode == nullptr) return false;
  std::shared_ptr<Node> node = FindPath(rootNode, path);
  if (node == nullptr) return false;
  Node::Value* value = node->FindValue(name);
  if (value == nullptr) return false;
  if (type != nullptr) *type = value->type;
  if (data != nullptr) *data = value->data;
  return true;
}

void MemoryRegistry::DumpNode(const Node& node, const std::string& path, std::string* out) const {
  *out += "[" + path + "]\n";
  for (const auto& v : node.values) {
    *out += "\"" + Escape(v.name) + "\"=" + std::to_string(v.type) + ":";
    for (std::uint8_t b : v.data) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02X", b);
      *out += buf;
    }
    *out += "\n";
  }
  for (const auto& child : OrderedChildren(node)) {
    DumpNode(*child, path + "\\" + Escape(child->name), out);
  }
}

std::string MemoryRegistry::Dump(RegKey root) const {
  std::string out;
  std::shared_ptr<Node> rootNode = RootNode(root);
  if (rootNode != nullptr) DumpNode(*rootNode, RootName(root), &out);
  return out;
}

std::string MemoryRegistry::Dump() const {
  return Dump(reg::kCurrentUser) + Dump(reg::kLocalMachine) + Dump(reg::kDynData);
}

bool MemoryRegistry::Load(const std::string& text) {
  auto user = std::make_shared<Node>();
  auto machine = std::make_shared<Node>();
  auto dyn = std::make_shared<Node>();
  user->rootName = "HKCU";
  machine->rootName = "HKLM";
  dyn->rootName = "HKDD";

  std::shared_ptr<Node> current;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return false;
      std::vector<std::string> parts = SplitPath(line.substr(1, line.size() - 2));
      if (parts.empty()) return false;
      std::shared_ptr<Node> node = parts[0] == "HKCU"   ? user
                                   : parts[0] == "HKLM" ? machine
                                   : parts[0] == "HKDD" ? dyn
                                                        : nullptr;
      if (node == nullptr) return false;
      for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string part;
        if (!Unescape(parts[i], &part) || part.empty()) return false;
        std::shared_ptr<Node> child = node->Child(part);
        if (child == nullptr) {
          child = std::make_shared<Node>();
          child->name = part;
          child->parent = node.get();
          node->children.push_back(child);
        }
        node = child;
      }
      current = node;
      continue;
    }
    // "name"=type:hexbytes
    if (current == nullptr || line.front() != '"') return false;
    std::size_t close = line.find("\"=", 1);
    std::size_t colon = close == std::string::npos ? close : line.find(':', close + 2);
    if (colon == std::string::npos) return false;
    Node::Value value;
    if (!Unescape(line.substr(1, close - 1), &value.name)) return false;
    std::string typeText = line.substr(close + 2, colon - close - 2);
    if (typeText.empty() || typeText.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    value.type = static_cast<std::uint32_t>(std::stoul(typeText));
    std::string hex = line.substr(colon + 1);
    if (hex.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      int hi = HexDigit(hex[i]);
      int lo = HexDigit(hex[i + 1]);
      if (hi < 0 || lo < 0) return false;
      value.data.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    if (current->FindValue(value.name) != nullptr) return false;
    current->values.push_back(std::move(value));
  }
  openHandles.clear();
  currentUserRoot = user;
  localMachineRoot = machine;
  dynDataRoot = dyn;
  return true;
}

bool MemoryRegistry::SaveToFile(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << Dump();
  return static_cast<bool>(out.flush());
}

bool MemoryRegistry::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  return Load(text.str());
}

}  // namespace qx
