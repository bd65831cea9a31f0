/* The raw module measurement, shared by the raw_bench program and the
 * benchmark's JNI library (raw_in_jvm.c). */
#ifndef KAVRO_BENCH_RAW_BENCH_H
#define KAVRO_BENCH_RAW_BENCH_H

/* Times one operation straight on the module: warm-up, then rounds of fixed
 * duration; results[r] receives round r's ns per operation. Returns 0, or 1
 * after printing why to stderr. */
int RawMeasure(const char *modulePath, unsigned long slotId, const char *pin, const char *name,
               const char *serialHex, double warmupMillis, double roundMillis, int rounds, double *results);

/* The same in steps, so that rounds can alternate with other columns:
 * set up (0, or 1 after printing why), one round (ns per operation, or -1),
 * tear down. */
int RawSetUp(const char *modulePath, unsigned long slotId, const char *pin, const char *name, const char *serialHex);
double RawRound(double roundMillis);
void RawTearDown(void);

/* Sorts the rounds and returns the median. */
double RawMedian(double *results, int rounds);

#endif
