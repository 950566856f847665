// Message boxes for tests: records what would have been shown, in order
// with the beeps, and answers IDOK at once.
#pragma once

#include "platform/message_boxes.h"

#include <string>
#include <vector>

struct RecordedAlert {
    enum Kind { Box, Beep } kind;
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT style = 0; // the box's style, or the beep's sound type
};

class RecordingMessageBoxes final : public MessageBoxes {
public:
    std::vector<RecordedAlert> alerts;

    int Show(HWND owner, const char* text, const char* caption, UINT style) override
    {
        alerts.push_back({RecordedAlert::Box, owner, text ? text : "", caption ? caption : "", style});
        return IDOK;
    }

    BOOL Beep(UINT soundType) override
    {
        alerts.push_back({RecordedAlert::Beep, nullptr, "", "", soundType});
        return TRUE;
    }
};
