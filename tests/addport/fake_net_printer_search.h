#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "port/net/net_printer_search.h"

namespace qx::test {

struct FakeSearchState {
  std::mutex Lock;
  void* Window = nullptr;
  unsigned Message = 0;
  std::vector<std::string> Calls;
  // Address text, and whether it comes from a printer that qualifies.
  std::deque<std::pair<std::string, bool>> Answers;
};
FakeSearchState& FakeSearch();

}  // namespace qx::test
