#include "TypeDef.h"

int TMailList::CountByState(int32_t state) const
{
    int n = 0;
    for (const TMailEntry *e : m_items)
        if (e->State == state)
            ++n;
    return n;
}
