#pragma once

#include <cstdint>

// libmseed 2 exports the decoders of its encodings but declares them in a header it does not
// install. Each decodes samplecount samples at most, writes no more than outputlength bytes
// and returns the number of samples decoded, or -1.
extern "C" {
int msr_decode_int16(std::int16_t* input, int samplecount, std::int32_t* output, int outputlength,
                     int swapflag);
int msr_decode_int32(std::int32_t* input, int samplecount, std::int32_t* output, int outputlength,
                     int swapflag);
int msr_decode_float32(float* input, int samplecount, float* output, int outputlength,
                       int swapflag);
int msr_decode_float64(double* input, int samplecount, double* output, int outputlength,
                       int swapflag);
int msr_decode_steim1(std::int32_t* input, int inputlength, int samplecount, std::int32_t* output,
                      int outputlength, char* srcname, int swapflag);
int msr_decode_steim2(std::int32_t* input, int inputlength, int samplecount, std::int32_t* output,
                      int outputlength, char* srcname, int swapflag);
}
