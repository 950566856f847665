#include "soundclock/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else
                out += c;
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Raw(const std::string& name, const std::string& value)
{
    if (!fields.empty())
        fields += ',';
    fields += JsonString(name) + ':' + value;
    return *this;
}

JsonObject& JsonObject::Number(const std::string& name, double value, int decimals)
{
    if (!std::isfinite(value))
        return Null(name);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    // No sign on a value that rounds to zero.
    const bool negativeZero = text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1);
    return Raw(name, negativeZero ? text + 1 : text);
}

JsonObject& JsonObject::Scientific(const std::string& name, double value, int digits)
{
    if (!std::isfinite(value))
        return Null(name);
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", digits, value);
    return Raw(name, text);
}

JsonObject& JsonObject::Integer(const std::string& name, int64_t value)
{
    return Raw(name, std::to_string(value));
}

JsonObject& JsonObject::Bool(const std::string& name, bool value)
{
    return Raw(name, value ? "true" : "false");
}

JsonObject& JsonObject::Null(const std::string& name)
{
    return Raw(name, "null");
}

JsonObject& JsonObject::String(const std::string& name, const std::string& value)
{
    return Raw(name, JsonString(value));
}

JsonObject& JsonObject::Object(const std::string& name, const JsonObject& value)
{
    return Raw(name, value.Text());
}

JsonObject& JsonObject::Array(const std::string& name, const std::vector<JsonObject>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i)
        text += (i > 0 ? "," : "") + items[i].Text();
    return Raw(name, text + "]");
}

JsonObject& JsonObject::Append(const JsonObject& other)
{
    if (!other.fields.empty())
        fields += (fields.empty() ? "" : ",") + other.fields;
    return *this;
}

std::string JsonObject::Text() const
{
    return "{" + fields + "}";
}
