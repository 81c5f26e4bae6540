#pragma once

// Asks the C library to keep freed memory for the next allocations of the same size instead
// of giving it back to the system at once. A run frees one row's sample arrays and allocates
// the next row's: returned pages would be faulted in again, zeroed, for every row, which costs
// more than reading the samples. Arrays up to 32 MiB (a day of 100 samples per second) then
// come from the heap rather than from mappings of their own, and every thread allocates from
// the same heap, so that rows read on other threads reuse those pages too. Where the system
// offers large pages on request, the heap the rows will use is marked for them, so that their
// arrays fault in two megabytes at a time instead of four kilobytes. Returns true when
// the C library took the settings; false on a host whose C library has no such setting.
bool KeepFreedMemory();
