#include "foundation/Error.h"

#include <sstream>

namespace qvr {

std::optional<int64_t> UserInfoValue::integer() const {
  if (const auto* n = std::get_if<int64_t>(&value)) return *n;
  return std::nullopt;
}

const UserInfo* UserInfoValue::map() const {
  if (const auto* m = std::get_if<std::shared_ptr<UserInfo>>(&value)) return m->get();
  return nullptr;
}

std::string UserInfoValue::toString() const {
  if (const auto* s = string()) return *s;
  if (const auto* n = std::get_if<int64_t>(&value)) return std::to_string(*n);
  if (const auto* d = std::get_if<double>(&value)) {
    std::ostringstream out;
    out << *d;
    return out.str();
  }
  std::string out = "{";
  bool first = true;
  if (const UserInfo* m = map()) {
    for (const auto& [k, v] : *m) {
      out += (first ? "" : ", ") + k + ": " + v.toString();
      first = false;
    }
  }
  return out + "}";
}

bool UserInfoValue::operator==(const UserInfoValue& other) const {
  const UserInfo* a = map();
  const UserInfo* b = other.map();
  if (a || b) return a && b && *a == *b;
  return value == other.value;
}

std::string Error::stringFor(const std::string& key) const {
  auto it = userInfo.find(key);
  if (it == userInfo.end()) return {};
  const std::string* s = it->second.string();
  return s ? *s : std::string();
}

std::string Error::toString() const {
  std::string out = domain + " " + std::to_string(code);
  for (const auto& [k, v] : userInfo) out += "; " + k + ": " + v.toString();
  return out;
}

}  // namespace qvr
