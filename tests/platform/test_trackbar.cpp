// Where each WM_HSCROLL notification code leaves the trackbar: the thumb
// position it carries, the control's own position, or nowhere new.
#include "platform/trackbar.h"

#include <gtest/gtest.h>

TEST(Trackbar, NotificationCodesDecideWhereThePositionComesFrom)
{
    const struct {
        unsigned code;
        bool asksTrackbar;
        bool changes;
    } cases[] = {
        {TB_LINEUP, true, true},      {TB_LINEDOWN, true, true},
        {TB_PAGEUP, true, true},      {TB_PAGEDOWN, true, true},
        {TB_TOP, true, true},         {TB_BOTTOM, true, true},
        {TB_THUMBTRACK, false, true}, {TB_THUMBPOSITION, false, false},
        {TB_ENDTRACK, false, false},  {9, false, false},
        {0xFFFF, false, false},
    };
    for (const auto& c : cases) {
        // The control answers 500 in the low word (junk in the high word);
        // the thumb-track position is 1500.
        int queries = 0;
        const auto position = ScrolledTrackbarPosition(MAKEWPARAM(c.code, 1500), [&]() -> LRESULT {
            ++queries;
            return (0x7A5 << 16) | 500;
        });
        EXPECT_EQ(queries, c.asksTrackbar ? 1 : 0) << c.code;
        ASSERT_EQ(position.has_value(), c.changes) << c.code;
        if (c.changes)
            EXPECT_EQ(*position, c.asksTrackbar ? 500 : 1500) << c.code;
    }
}
