#pragma once

struct TreeToCheck;

// One cell of the found list: a found node and the cell added before it.
struct ArrayCStyle {
    TreeToCheck* node = nullptr;
    ArrayCStyle* next = nullptr;
};
