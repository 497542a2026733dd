#pragma once

#include <string>
#include <vector>

namespace qx::test {

// A port list answer: the names as UTF-16, each with its NUL, then the closing empty
// entry unless `terminated` is false.
inline std::string PortListAnswer(const std::vector<std::string>& names, bool terminated = true) {
  std::string answer;
  for (const std::string& name : names) {
    for (char c : name) answer += std::string{c, '\0'};
    answer += std::string(2, '\0');
  }
  if (terminated) answer += std::string(2, '\0');
  return answer;
}

}  // namespace qx::test
