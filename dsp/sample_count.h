#pragma once

// Seconds by which a time computed from epoch seconds may miss the instant it stands for. A
// double near 10^9 s holds an epoch second to about 1.2e-7 s; a sum or difference of two of
// them (tbegin + tqty - tbegin, t1 - tbegin) and a sample's k / rate added to one carry a few
// of those steps, about 2e-7 to 5e-7 s. 1e-6 s covers them with room to spare and is far below
// the interval of any rate an archive records (a tenth of a sample at 100 000 sps).
constexpr double TIME_ROUNDING = 1e-6;

// Returns a number of samples derived from times (a duration or an offset in epoch seconds
// times the rate in samples per second), truncated toward zero, except that a value within
// TIME_ROUNDING * rate samples of a whole number is that whole number: a file of 10 000
// samples at 33.333 sps whose (tbegin + tqty - tbegin) * sps comes out as 9999.9999997 holds
// 10 000 samples. A value that is not finite is returned truncated (unchanged).
double TruncateSamples(double samples, double rate);
