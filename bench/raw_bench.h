/* The raw module measurement, shared by the raw_bench program and the
 * benchmark's JNI library (raw_in_jvm.c). */
#ifndef KAVRO_BENCH_RAW_BENCH_H
#define KAVRO_BENCH_RAW_BENCH_H

/* Times one operation straight on the module: warm-up, then rounds of fixed
 * duration; results[r] receives round r's ns per operation. Returns 0, or 1
 * after printing why to stderr. */
int RawMeasure(const char *modulePath, unsigned long slotId, const char *pin, const char *name,
               const char *serialHex, double warmupMillis, double roundMillis, int rounds, double *results);

/* Sorts the rounds and returns the median. */
double RawMedian(double *results, int rounds);

#endif
