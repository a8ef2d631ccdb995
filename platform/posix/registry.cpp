#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/regedit4.h"

namespace platform::registry {
namespace {

namespace r4 = platform::regedit4;

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::size_t kMaxValueName = 16383;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string HomeDirectory() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

// Looked up on every call: the environment may change between calls.
std::string StorePath() {
  std::string path = Env("K482_REGISTRY");
  if (!path.empty()) return path;
  const std::string config = Env("XDG_CONFIG_HOME");
  if (!config.empty() && config.front() == '/') return config + "/k482tsp/registry.reg";
  const std::string home = HomeDirectory();
  if (home.empty()) return {};
  return home + "/.config/k482tsp/registry.reg";
}

// Every key operation starts here: one string, built in place.
std::string SectionKey(std::string_view path) {
  std::string key;
  key.reserve(kRoot.size() + 1 + path.size());
  key.append(kRoot);
  r4::AppendCanonicalKey(&key, path);
  return key;
}

bool IsStrictlyBelow(std::string_view section, std::string_view key) {
  return section.size() > key.size() + 1 && section[key.size()] == '\\' &&
         r4::NamesEqual(section.substr(0, key.size()), key);
}

// A key without a section of its own exists while a descendant has one.
bool KeyExists(const r4::Document& document, std::string_view key) {
  if (key == kRoot) return true;
  return std::any_of(document.sections.begin(), document.sections.end(), [&](const r4::Section& section) {
    return r4::NamesEqual(section.key, key) || IsStrictlyBelow(section.key, key);
  });
}

bool HasSubKeys(const r4::Document& document, std::string_view key) {
  return std::any_of(document.sections.begin(), document.sections.end(),
                     [&](const r4::Section& section) { return IsStrictlyBelow(section.key, key); });
}

r4::Section& EnsureSection(r4::Document* document, const std::string& key, bool* changed) {
  if (r4::Section* section = r4::FindSection(*document, key)) return *section;
  document->sections.push_back(r4::Section{key, {}});
  *changed = true;
  return document->sections.back();
}

// Every ancestor below the root gets a section too, as in regedit's exports;
// then deleting a key's last subkey never takes the key along.
void EnsureKeyChain(r4::Document* document, const std::string& key, bool* changed) {
  for (std::size_t slash = key.find('\\'); slash != std::string::npos; slash = key.find('\\', slash + 1)) {
    const std::size_t next = key.find('\\', slash + 1);
    EnsureSection(document, key.substr(0, next), changed);
  }
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// What one read of the store found; shared, never changed.
using Snapshot = std::shared_ptr<const r4::Document>;

// The fuzzers' store in memory (UseMemoryStore): its text, and that text read.
// Made on first use and kept, so that the module's state stays trivially
// destructible; shipped code never makes one.
struct MemoryStore {
  std::mutex update;  // writers, one at a time; taken before guard
  std::mutex guard;
  std::string* text = nullptr;
  std::string readText;
  Snapshot read;
};
MemoryStore* g_memory = nullptr;
std::atomic<bool> g_inMemory{false};

// Reads take no lock: writers only ever rename a whole new file into place.
__attribute__((noinline)) long LoadFile(Snapshot* document) {
  *document = std::make_shared<const r4::Document>();
  const std::string file = StorePath();
  if (file.empty()) return kSuccess;
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return (errno == ENOENT || errno == ENOTDIR) ? kSuccess : kAccessDenied;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kAccessDenied;
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  *document = std::make_shared<const r4::Document>(r4::Parse(content));
  return kSuccess;
}

// The file's read buffer lives in a function of its own, never inlined: the
// store in memory then does not set up (under AddressSanitizer, poison and
// unpoison) 64 KiB of stack at every read.
long Load(Snapshot* document) {
  if (!g_inMemory.load()) return LoadFile(document);
  std::lock_guard<std::mutex> lock(g_memory->guard);
  // Read once after each change (UseMemoryStore drops what a changed text made).
  if (g_memory->read == nullptr) {
    g_memory->read = std::make_shared<const r4::Document>(r4::Parse(*g_memory->text));
    g_memory->readText = *g_memory->text;
  }
  *document = g_memory->read;
  return kSuccess;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A crash leaves the old file or the new one, never a part of either.
long Replace(const std::string& file, r4::Document document) {
  std::string content = r4::Write(document);
  if (g_inMemory.load()) {
    std::lock_guard<std::mutex> lock(g_memory->guard);
    g_memory->text->assign(content);
    // The text written reads back as the document it was written from.
    g_memory->readText = std::move(content);
    g_memory->read = std::make_shared<const r4::Document>(std::move(document));
    return kSuccess;
  }
  const std::string temporary = file + ".tmp";
  Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return kAccessDenied;
  struct stat original {};
  bool ok = true;
  if (::stat(file.c_str(), &original) == 0) ok = ::fchmod(fd.get(), original.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
  ok = ::close(fd.release()) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return kAccessDenied;
  }
  // The rename itself lasts once the directory is on disk.
  const std::string directory = std::filesystem::path(file).parent_path().string();
  Fd dir(::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return kSuccess;
}

// Read, change and replace the file under an exclusive lock on a file of its
// own (the data file is replaced, so it cannot carry the lock itself). Where
// unchanged(current) holds, the store is already as the change would leave it:
// nothing is copied or written.
template <typename Change, typename Unchanged>
long Update(const Change& change, const Unchanged& unchanged) {
  std::string file;
  // The store in memory has no other process to fear, only other threads.
  std::unique_lock<std::mutex> inMemory;
  Fd lock(-1);
  if (g_inMemory.load()) {
    inMemory = std::unique_lock<std::mutex>(g_memory->update);
  } else {
    file = StorePath();
    if (file.empty()) return kAccessDenied;
    const std::filesystem::path parent = std::filesystem::path(file).parent_path();
    if (!parent.empty()) {
      std::error_code ignored;  // a failure shows when the lock file cannot be made
      std::filesystem::create_directories(parent, ignored);
    }
    lock.reset(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (lock.get() < 0) return kAccessDenied;
    while (::flock(lock.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return kAccessDenied;
    }
  }
  Snapshot current;
  long result = Load(&current);
  if (result == kSuccess && unchanged(*current)) return kSuccess;
  r4::Document document = *current;
  bool changed = false;
  if (result == kSuccess) result = change(&document, &changed);
  if (result == kSuccess && changed) result = Replace(file, std::move(document));
  return result;  // closing the lock file releases the lock
}

template <typename Change>
long Update(const Change& change) {
  return Update(change, [](const r4::Document&) { return false; });
}

}  // namespace

void UseMemoryStore(std::string* text) {
  g_inMemory.store(false);
  if (g_memory == nullptr) {
    if (text == nullptr) return;
    g_memory = new MemoryStore;
  }
  g_memory->text = text;
  if (text != nullptr) {
    // The same text reads the same: compared here once, not at every read.
    std::lock_guard<std::mutex> lock(g_memory->guard);
    if (g_memory->read != nullptr && g_memory->readText != *text) g_memory->read.reset();
    g_inMemory.store(true);
    return;
  }
  // Back to the file: what was read goes, so that nothing stays allocated.
  g_memory->read.reset();
  std::string().swap(g_memory->readText);
}

Key::~Key() { Close(); }

Key::Key(Key&& other) noexcept
    : path_(std::move(other.path_)), open_(other.open_), writable_(other.writable_) {
  other.Close();
}

Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    path_ = std::move(other.path_);
    open_ = other.open_;
    writable_ = other.writable_;
    other.Close();
  }
  return *this;
}

long Key::Open(std::string_view path, Access access) {
  Close();
  std::string key = SectionKey(path);
  Snapshot read;
  if (const long result = Load(&read); result != kSuccess) return result;
  const r4::Document& document = *read;
  if (!KeyExists(document, key)) return kFileNotFound;
  path_ = std::move(key);
  open_ = true;
  writable_ = access == Access::kAllAccess;
  return kSuccess;
}

long Key::Create(std::string_view path) {
  Close();
  if (HasLineBreakOrNul(path)) return kInvalidParameter;
  std::string key = SectionKey(path);
  Snapshot read;
  if (const long result = Load(&read); result != kSuccess) return result;
  const r4::Document& document = *read;
  if (!KeyExists(document, key)) {
    const long result = Update([&](r4::Document* current, bool* changed) {
      if (!KeyExists(*current, key)) EnsureKeyChain(current, key, changed);
      return kSuccess;
    });
    if (result != kSuccess) return result;
  }
  path_ = std::move(key);
  open_ = true;
  writable_ = true;
  return kSuccess;
}

void Key::Close() {
  path_.clear();
  open_ = false;
  writable_ = false;
}

bool Key::IsOpen() const { return open_; }

long Key::QueryValue(const std::string& name, std::uint32_t* type, void* data, std::uint32_t* size) const {
  if (!open_ || (data != nullptr && size == nullptr)) return kInvalidParameter;
  Snapshot read;
  if (const long result = Load(&read); result != kSuccess) return result;
  const r4::Document& document = *read;
  // A key with a section exists; only one without needs the wider look.
  const r4::Section* section = r4::FindSection(document, path_);
  if (section == nullptr && !KeyExists(document, path_)) return kKeyDeleted;
  const r4::Value* value = section == nullptr ? nullptr : r4::FindValue(*section, name);
  if (value == nullptr) return kFileNotFound;
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return kSuccess;
  const auto needed = static_cast<std::uint32_t>(value->data.size());
  if (data != nullptr) {
    if (needed > *size) {
      *size = needed;
      return kMoreData;
    }
    std::memcpy(data, value->data.data(), needed);
  }
  *size = needed;
  return kSuccess;
}

long Key::SetValue(const std::string& name, std::uint32_t type, const void* data, std::uint32_t size) {
  if (!open_) return kInvalidParameter;
  if (!writable_) return kAccessDenied;
  if ((data == nullptr && size != 0) || name.size() > kMaxValueName || HasLineBreakOrNul(name)) {
    return kInvalidParameter;
  }
  const std::string bytes = data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
  // The same value set again (a default stored back, say) leaves the store as it is.
  const auto holds = [&](const r4::Document& document) {
    const r4::Section* section = r4::FindSection(document, path_);
    const r4::Value* value = section == nullptr ? nullptr : r4::FindValue(*section, name);
    return value != nullptr && value->type == type && value->data == bytes;
  };
  return Update([&](r4::Document* document, bool* changed) {
    if (!KeyExists(*document, path_)) return kKeyDeleted;
    r4::Section& section = EnsureSection(document, path_, changed);
    if (r4::Value* value = r4::FindValue(section, name)) {
      if (value->type != type || value->data != bytes) {
        value->type = type;
        value->data = bytes;
        *changed = true;
      }
    } else {
      section.values.push_back(r4::Value{name, type, bytes});
      *changed = true;
    }
    return kSuccess;
  }, holds);
}

long Key::EnumValue(std::uint32_t index, std::string* name) const {
  if (!open_ || name == nullptr) return kInvalidParameter;
  Snapshot read;
  if (const long result = Load(&read); result != kSuccess) return result;
  const r4::Document& document = *read;
  if (!KeyExists(document, path_)) return kKeyDeleted;
  const r4::Section* section = r4::FindSection(document, path_);
  if (section == nullptr || index >= section->values.size()) return kNoMoreItems;
  *name = section->values[index].name;
  return kSuccess;
}

long Key::EnumSubKey(std::uint32_t index, std::string* name) const {
  if (!open_ || name == nullptr) return kInvalidParameter;
  Snapshot read;
  if (const long result = Load(&read); result != kSuccess) return result;
  const r4::Document& document = *read;
  if (!KeyExists(document, path_)) return kKeyDeleted;
  std::vector<std::string> children;
  for (const auto& section : document.sections) {
    if (!IsStrictlyBelow(section.key, path_)) continue;
    const std::string_view rest = std::string_view(section.key).substr(path_.size() + 1);
    const std::string_view child = rest.substr(0, rest.find('\\'));
    const bool known = std::any_of(children.begin(), children.end(),
                                   [&](const std::string& seen) { return r4::NamesEqual(seen, child); });
    if (!known) children.emplace_back(child);
  }
  if (index >= children.size()) return kNoMoreItems;
  std::stable_sort(children.begin(), children.end(),
                   [](const std::string& a, const std::string& b) { return r4::NameLess(a, b); });
  *name = children[index];
  return kSuccess;
}

long Key::DeleteValue(const std::string& name) {
  if (!open_) return kInvalidParameter;
  if (!writable_) return kAccessDenied;
  return Update([&](r4::Document* document, bool* changed) {
    if (!KeyExists(*document, path_)) return kKeyDeleted;
    r4::Section* section = r4::FindSection(*document, path_);
    if (section == nullptr) return kFileNotFound;
    const auto found = std::find_if(section->values.begin(), section->values.end(),
                                    [&](const r4::Value& value) { return r4::NamesEqual(value.name, name); });
    if (found == section->values.end()) return kFileNotFound;
    section->values.erase(found);
    *changed = true;
    return kSuccess;
  });
}

long Key::DeleteSubKey(const std::string& name) {
  if (!open_) return kInvalidParameter;
  if (!writable_) return kAccessDenied;
  const std::string target = SectionKey(path_.substr(std::min(path_.size(), kRoot.size())) + "\\" + name);
  if (target == kRoot) return kAccessDenied;
  return Update([&](r4::Document* document, bool* changed) {
    if (!KeyExists(*document, path_)) return kKeyDeleted;
    if (!KeyExists(*document, target)) return kFileNotFound;
    // NT's RegDeleteKey refuses a key that still has subkeys.
    if (HasSubKeys(*document, target)) return kAccessDenied;
    auto& sections = document->sections;
    sections.erase(std::remove_if(sections.begin(), sections.end(),
                                  [&](const r4::Section& section) { return r4::NamesEqual(section.key, target); }),
                   sections.end());
    EnsureKeyChain(document, target.substr(0, target.rfind('\\')), changed);
    *changed = true;
    return kSuccess;
  });
}

}  // namespace platform::registry
