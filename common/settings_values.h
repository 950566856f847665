// Splitting the settings text into values, one after another.
//
// The text is plain 8-bit bytes. One value is read like this:
// - leading spaces are skipped;
// - the value ends at a comma, a space, a carriage return, the byte 0x1A or
//   the end of the text; tabs and line feeds inside it are dropped and do
//   not end it, so "80\n00" is the value "8000";
// - at most SETTINGS_VALUE_MAX_LENGTH characters are kept; the rest of an
//   over-long value is read and dropped up to its end, so the next value
//   still starts where the file's author put it;
// - after the value, spaces, tabs and line feeds are skipped, then one comma,
//   or one carriage return together with a line feed right after it, is
//   consumed.
// 0x1A is never consumed, so every value after it is empty: it works as the
// old end-of-file mark.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t SETTINGS_VALUE_MAX_LENGTH = 255;

// Read position in the settings text; `next` moves towards `end`.
struct SettingsCursor {
    const unsigned char* next;
    const unsigned char* end;
};

SettingsCursor MakeSettingsCursor(const char* data, size_t size);

// Reads the value at the cursor and the separator after it. At the end of
// the text (or at 0x1A) the value is empty.
std::string ReadSettingsValue(SettingsCursor& cursor);
