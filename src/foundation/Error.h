#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace qvr {

struct UserInfoValue;
using UserInfo = std::map<std::string, UserInfoValue>;

// A userInfo value: a string, an integer, a real, or a nested map.
struct UserInfoValue {
  std::variant<std::string, int64_t, double, std::shared_ptr<UserInfo>> value;

  UserInfoValue() : value(std::string()) {}
  UserInfoValue(std::string s) : value(std::move(s)) {}
  UserInfoValue(const char* s) : value(std::string(s)) {}
  UserInfoValue(int64_t n) : value(n) {}
  UserInfoValue(int n) : value(static_cast<int64_t>(n)) {}
  UserInfoValue(double d) : value(d) {}
  UserInfoValue(UserInfo map) : value(std::make_shared<UserInfo>(std::move(map))) {}

  const std::string* string() const { return std::get_if<std::string>(&value); }
  std::optional<int64_t> integer() const;
  const UserInfo* map() const;
  // Readable rendering for logs and the command line.
  std::string toString() const;
  bool operator==(const UserInfoValue& other) const;
};

// The one error value of the system: a domain, an integer code and a userInfo map.
struct Error {
  std::string domain;
  int64_t code = 0;
  UserInfo userInfo;

  Error() = default;
  Error(std::string domain, int64_t code, UserInfo userInfo = {})
      : domain(std::move(domain)), code(code), userInfo(std::move(userInfo)) {}

  // The string stored under `key`, or "" when absent or not a string.
  std::string stringFor(const std::string& key) const;
  std::string toString() const;
};

}  // namespace qvr
