// The meter's rows (meter/block_record.h) on their way to the one who
// asked for them, in the order they were made; some held back a while.
//
// A row goes out as it is put, unless a hold is on: then it waits, and the
// hold's rows go out together, in order, when the hold is let go
// (Release), or as soon as more than `limit` of them wait, so that no row
// waits for more than `limit` rows after it. While a hold begun afresh
// lasts, its rows may be amended in place (Held) before they go out; a
// hold let go for its length is let go for good: a Hold() after it holds
// the rows again, but none of them may be amended (what they belong with
// went out unamended).
// Every row put goes out exactly once, in order: at a Release() at the
// latest. Without an observer nothing is kept or sent.
// Memory: at most `limit` + 1 rows.
#pragma once

#include "meter/block_record.h"

#include <cstddef>
#include <functional>
#include <vector>

class HeldRows {
public:
    explicit HeldRows(size_t limit) : limit(limit) {}

    void OnRow(std::function<void(const BlockRecord&)> rowObserver) { observer = std::move(rowObserver); }

    // Lets out what is held, then holds the rows from now on, amendably.
    void HoldAfresh();
    // Holds the rows from now on (a hold already on goes on as it is).
    void Hold();
    // The place the next row put takes among the held ones.
    size_t NextPlace() const { return rows.size(); }

    void Put(const BlockRecord& row);
    // The row at `place` of the hold begun afresh, to amend; nullptr where
    // that hold was let go, or there is no such row.
    BlockRecord* Held(size_t place);
    // Lets out every row held, in order; nothing is held after it.
    void Release();

private:
    size_t limit;
    std::function<void(const BlockRecord&)> observer;
    std::vector<BlockRecord> rows;
    bool holding = false;
    bool amendable = false;
};
