// What the processor can run beyond the baseline instruction set. Probed
// once, on first use, and only read afterwards, so threads may ask at any
// time. Code built with wider instructions runs only when these say so.
#pragma once

namespace norvane {

bool CpuHasAvx2();
// AVX-512 with the F, BW and VL subsets, and BMI2.
bool CpuHasAvx512();

}  // namespace norvane
