// The settings key as a user without administrator rights meets it: values
// can be read, nothing can be written. On Windows (and Wine) the key's access
// list denies writing to everyone; on POSIX the store's lock cannot be made,
// which stops every change even for root. Undone when it goes out of scope.
// Use inside a SettingsSandbox, after the values the test needs are stored.
#pragma once

#include <string>

namespace testing_support {

class RefusedWrites {
 public:
  RefusedWrites();
  ~RefusedWrites();
  RefusedWrites(const RefusedWrites&) = delete;
  RefusedWrites& operator=(const RefusedWrites&) = delete;

 private:
  // gtest's assertions need a function without a result.
  void Arm();

  bool active_ = false;
  // Windows: the key's access list as it was; POSIX: the lock in the way.
  std::string saved_;
};

}  // namespace testing_support
