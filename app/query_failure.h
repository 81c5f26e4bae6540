#pragma once

class Catalogue;

// Ends the run when a catalogue statement has failed: a lost connection or a locked database
// must not pass for a result without rows, which would draw rows without data. Returns 0 when
// no statement of catalogue failed; -3 after printing which kind of query failed.
int ReportFailedQuery(const Catalogue& catalogue);
