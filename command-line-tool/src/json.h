// One-line JSON objects for `--json`: numbers as numbers (64-bit counters
// printed whole, never through a double), text escaped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace beamctl {

// `text` as a JSON string, quotes included.
std::string jsonString(std::string_view text);

class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::uint64_t value);
    JsonObject& add(std::string_view key, std::int64_t value);
    JsonObject& add(std::string_view key, int value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    // Finite values with up to six decimals; anything else is null.
    JsonObject& add(std::string_view key, double value);
    JsonObject& add(std::string_view key, bool value);
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) {
        return add(key, std::string_view(text));
    }
    JsonObject& addNull(std::string_view key);
    // `json` must already be a JSON value (an object or an array).
    JsonObject& addRaw(std::string_view key, std::string_view json);
    std::string text() const { return "{" + members_ + "}"; }

  private:
    void key(std::string_view name);
    std::string members_;
};

// Already-encoded values as a JSON array.
std::string jsonArray(const std::vector<std::string>& values);

}  // namespace beamctl
