#pragma once

#include <cstdint>

// Linking this in replaces the global operator new and delete of the whole
// program with ones that count every heap block by the size asked for, so that a
// test or benchmark can see how far the heap rose during some work.
namespace weftloom::test {

// Bytes in heap blocks now.
std::int64_t HeapNow();
// Starts a new peak at the current level.
void ResetHeapPeak();
// The highest the heap stood since the last ResetHeapPeak.
std::int64_t HeapPeak();

}  // namespace weftloom::test
