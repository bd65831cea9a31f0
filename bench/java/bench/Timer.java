package bench;

import java.util.Arrays;
import java.util.List;

/**
 * Warm-up, then rounds of fixed duration; the median of the rounds' ns per
 * operation. Columns measured together take their rounds in turn, so that
 * a machine slowing down or speeding up affects them alike.
 */
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

    /** One round of a column: runs for the given time and returns ns per operation. */
    interface Round {
        double run(long millis) throws Exception;
    }

    /** A Java column: the operation again and again, the check after the round, outside the timing. */
    static Round of(Operation operation, Check check) {
        return millis -> {
            long roundNanos = millis * 1_000_000L;
            long count = 0;
            long begin = System.nanoTime();
            long elapsed;
            do {
                operation.run();
                count++;
            } while ((elapsed = System.nanoTime() - begin) < roundNanos);
            check.run();
            return (double) elapsed / count;
        };
    }

    /** The median ns per operation of each column, rounds taken in turn. */
    double[] medianNanos(List<Round> columns) throws Exception {
        for (Round column : columns) {
            column.run(warmupMillis);
        }
        double[][] results = new double[columns.size()][rounds];
        for (int r = 0; r < rounds; r++) {
            for (int c = 0; c < columns.size(); c++) {
                results[c][r] = columns.get(c).run(roundMillis);
            }
        }
        double[] medians = new double[columns.size()];
        for (int c = 0; c < columns.size(); c++) {
            Arrays.sort(results[c]);
            medians[c] = results[c][rounds / 2];
        }
        return medians;
    }

    double medianNanos(Operation operation, Check check) throws Exception {
        return medianNanos(List.of(of(operation, check)))[0];
    }
}
