// One JSON object, written field by field in the order given: numbers with
// the decimals each figure deserves (a fixed count, so that a script reads
// 0.000020 where the meter knows it to a millionth), strings escaped as
// JSON requires, and objects or arrays nested whole. Non-finite numbers
// are written as null.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string JsonString(const std::string& text);

class JsonObject {
public:
    JsonObject& Number(const std::string& name, double value, int decimals);
    // Scientific notation with `digits` after the point ("3.000000e-09").
    JsonObject& Scientific(const std::string& name, double value, int digits);
    JsonObject& Integer(const std::string& name, int64_t value);
    JsonObject& Bool(const std::string& name, bool value);
    JsonObject& Null(const std::string& name);
    JsonObject& String(const std::string& name, const std::string& value);
    JsonObject& Object(const std::string& name, const JsonObject& value);
    // An array of objects.
    JsonObject& Array(const std::string& name, const std::vector<JsonObject>& items);
    // `value` as written elsewhere (already JSON).
    JsonObject& Raw(const std::string& name, const std::string& value);
    // The fields of `other`, after these.
    JsonObject& Append(const JsonObject& other);

    bool Empty() const { return fields.empty(); }
    std::string Text() const;

private:
    std::string fields;  // "\"a\":1,\"b\":2"
};
