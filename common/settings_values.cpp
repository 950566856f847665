#include "common/settings_values.h"

namespace {

constexpr unsigned char END_OF_FILE_MARK = 0x1A;

bool IsValueEnd(unsigned char c)
{
    return c == ',' || c == ' ' || c == '\r' || c == END_OF_FILE_MARK;
}

bool IsDroppedInsideValue(unsigned char c)
{
    return c == '\t' || c == '\n';
}

bool IsSkippedAfterValue(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool AtEnd(const SettingsCursor& cursor)
{
    return cursor.next == cursor.end;
}

void SkipWhile(SettingsCursor& cursor, bool (*skipped)(unsigned char))
{
    while (!AtEnd(cursor) && skipped(*cursor.next))
        ++cursor.next;
}

bool IsSpace(unsigned char c)
{
    return c == ' ';
}

// One comma, or one carriage return with the line feed that follows it.
void ConsumeSeparator(SettingsCursor& cursor)
{
    if (AtEnd(cursor))
        return;
    if (*cursor.next == ',') {
        ++cursor.next;
    } else if (*cursor.next == '\r') {
        ++cursor.next;
        if (!AtEnd(cursor) && *cursor.next == '\n')
            ++cursor.next;
    }
}

}  // namespace

SettingsCursor MakeSettingsCursor(const char* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    return SettingsCursor{bytes, bytes + size};
}

std::string ReadSettingsValue(SettingsCursor& cursor)
{
    SkipWhile(cursor, IsSpace);
    std::string value;
    while (!AtEnd(cursor) && !IsValueEnd(*cursor.next)) {
        const unsigned char c = *cursor.next++;
        if (!IsDroppedInsideValue(c) && value.size() < SETTINGS_VALUE_MAX_LENGTH)
            value.push_back(static_cast<char>(c));
    }
    SkipWhile(cursor, IsSkippedAfterValue);
    ConsumeSeparator(cursor);
    return value;
}
