// OpenMP's one call the core makes, for the browser's libimagequant, which
// is built without OpenMP: it runs on the calling thread alone, as the core
// asks of it anyway.
#pragma once

inline void omp_set_num_threads(int /*threads*/) {}
