#!/bin/sh
# Stands in for an expensive simulation: the Rosenbrock function of the variables in $1,
# written to $2, after a pause of as many seconds as ZYL_PAUSE says (default 2).
set -eu
sleep "${ZYL_PAUSE:-2}"
LC_ALL=C awk '
NR == 1 && NF > 0 {
    f = 0
    for (i = 1; i < NF; i++)
        f += 100 * ($(i + 1) - $i ^ 2) ^ 2 + (1 - $i) ^ 2
    printf "%.17g\n", f
    exit
}' "$1" >"$2"
