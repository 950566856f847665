#include "meter/held_rows.h"

void HeldRows::HoldAfresh()
{
    if (!observer)
        return;
    Release();
    amendable = true;
    holding = true;
}

void HeldRows::Hold()
{
    if (observer)
        holding = true;
}

void HeldRows::Put(const BlockRecord& row)
{
    if (!observer)
        return;
    if (!holding) {
        observer(row);
        return;
    }
    rows.push_back(row);
    if (rows.size() > limit)
        Release();
}

BlockRecord* HeldRows::Held(size_t place)
{
    return amendable && place < rows.size() ? &rows[place] : nullptr;
}

void HeldRows::Release()
{
    holding = false;
    amendable = false;
    if (observer)
        for (const BlockRecord& row : rows)
            observer(row);
    rows.clear();
}
