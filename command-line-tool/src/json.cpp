#include "json.h"

#include <cmath>

#include "text.h"

namespace beamctl {

std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            quoted += format("\\u%04x", byte);
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void JsonObject::key(std::string_view name) {
    if (!members_.empty()) members_ += ',';
    members_ += jsonString(name) + ":";
}

JsonObject& JsonObject::add(std::string_view name, std::uint64_t value) {
    key(name);
    members_ += format("%llu", static_cast<unsigned long long>(value));
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::int64_t value) {
    key(name);
    members_ += format("%lld", static_cast<long long>(value));
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, double value) {
    if (!std::isfinite(value)) return addNull(name);
    key(name);
    // Adding 0 turns a negative zero into 0.
    std::string number = format("%.6f", value + 0.0);
    // Trailing zeros say nothing.
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
    members_ += number;
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool value) {
    key(name);
    members_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::string_view text) {
    key(name);
    members_ += jsonString(text);
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view name) {
    key(name);
    members_ += "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view json) {
    key(name);
    members_ += json;
    return *this;
}

std::string jsonArray(const std::vector<std::string>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ',';
        text += values[i];
    }
    return text + "]";
}

}  // namespace beamctl
