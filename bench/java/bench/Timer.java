package bench;

import java.util.Arrays;

/** Warm-up, then rounds of fixed duration; the median of the rounds' ns per operation. */
final class Timer {
    final long warmupMillis;
    final long roundMillis;
    final int rounds;

    Timer(long warmupMillis, long roundMillis, int rounds) {
        this.warmupMillis = warmupMillis;
        this.roundMillis = roundMillis;
        this.rounds = rounds;
    }

    interface Operation {
        void run() throws Exception;
    }

    interface Check {
        void run() throws Exception;
    }

    /** Times the operation; the check runs after every round, outside the timing. */
    double medianNanos(Operation operation, Check check) throws Exception {
        long end = System.nanoTime() + warmupMillis * 1_000_000L;
        while (System.nanoTime() < end) {
            operation.run();
        }
        check.run();
        double[] results = new double[rounds];
        long roundNanos = roundMillis * 1_000_000L;
        for (int r = 0; r < rounds; r++) {
            long count = 0;
            long begin = System.nanoTime();
            long elapsed;
            do {
                operation.run();
                count++;
            } while ((elapsed = System.nanoTime() - begin) < roundNanos);
            results[r] = (double) elapsed / count;
            check.run();
        }
        Arrays.sort(results);
        return results[rounds / 2];
    }
}
