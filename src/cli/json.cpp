#include "cli/json.h"

#include <cstdio>

namespace qx::cli {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) { return AddRaw(key, JsonString(value)); }
JsonObject& JsonObject::Add(const std::string& key, bool value) { return AddRaw(key, value ? "true" : "false"); }
JsonObject& JsonObject::Add(const std::string& key, int value) { return AddRaw(key, std::to_string(value)); }

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
  fields_.emplace_back(key, json);
  return *this;
}

std::string JsonObject::Text() const {
  std::string out = "{";
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) out += ",";
    out += JsonString(fields_[i].first) + ":" + fields_[i].second;
  }
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ",";
    out += values[i];
  }
  return out + "]";
}

}  // namespace qx::cli
