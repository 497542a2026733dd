#pragma once

// The little JSON qxmodel writes: one object per run, built field by field.

#include <string>
#include <utility>
#include <vector>

namespace qx::cli {

// A JSON string literal of `text`, quotes included. Bytes above 0x7F pass as they are
// (the printer's texts are ASCII); control characters are escaped.
std::string JsonString(const std::string& text);

class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, int value);
  // A value that is already JSON (an object, an array, null).
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  bool Empty() const { return fields_.empty(); }
  std::string Text() const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// "[a,b,...]" of JSON values.
std::string JsonArray(const std::vector<std::string>& values);

}  // namespace qx::cli
