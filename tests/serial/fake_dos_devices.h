#pragma once

// A stand-in for DefineDosDeviceA/QueryDosDeviceA: a table of names and their target
// lists, and a log of every call.

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "port/serial/serial_rules.h"

namespace qx::test {

class FakeDosDevices : public DosDeviceFunctions {
 public:
  struct Call {
    std::string What;  // "define" or "query"
    unsigned Flags = 0;
    std::string Name;
    std::string Target;
  };

  // Target lists, as QueryDosDeviceA stores them (NUL-separated, final NUL added).
  std::map<std::string, std::string> Lists;
  std::vector<Call> Calls;
  bool DefineFails = false;
  // Accept definitions without keeping them (as some systems do).
  bool ForgetDefinitions = false;
  // When set, Query reports this many characters instead of the true count.
  std::uint32_t ReportedCount = 0;

  void SetTargets(const std::string& name, const std::vector<std::string>& targets) {
    std::string list;
    for (const auto& t : targets) list += t + '\0';
    Lists[name] = list;
  }

  bool Define(unsigned flags, const char* name, const char* target) override {
    Calls.push_back({"define", flags, name, target ? target : ""});
    if (DefineFails) return false;
    if (flags & DddRemoveDefinition) {
      Lists.erase(name);
    } else if (!ForgetDefinitions) {
      Lists[name] = std::string(target) + '\0' + Lists[name];
    }
    return true;
  }

  std::uint32_t Query(const char* name, char* buffer, std::uint32_t size) override {
    Calls.push_back({"query", 0, name, ""});
    auto it = Lists.find(name);
    if (it == Lists.end()) return 0;
    std::string list = it->second + '\0';
    if (list.size() > size) return 0;
    std::memcpy(buffer, list.data(), list.size());
    return ReportedCount ? ReportedCount : static_cast<std::uint32_t>(list.size());
  }

  std::vector<Call> Defines() const {
    std::vector<Call> out;
    for (const auto& c : Calls)
      if (c.What == "define") out.push_back(c);
    return out;
  }
};

}  // namespace qx::test
