#pragma once

#include "engine/KZSearchItemInfo.h"

// One cell of a candidate stack: the scan pushes it, the second pass takes it
// off. The cell holds one reference to its item.
struct ItemInfoArrayCStyle {
    KZSearchItemInfoRef item;
    ItemInfoArrayCStyle* next = nullptr;
};
