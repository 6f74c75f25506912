#!/bin/sh
# An external program for a task with two objectives: the disc brake of
# examples/disc-brake.txt computed outside ZYL. It reads ri, ro, F and s (one line, in the
# order of the VARIABLES section) and writes the two objective values, mass then stopping
# time, followed by the five constraint values (each at most 0 when met), all on one line:
#
#   [FUNCTION]
#   external=1
#   external_name=examples/external/disc-brake.sh
#   input_name=zyl-input.txt
#   output_name=zyl-output.txt
#   external_objectives=2
#   external_constraints=5
#
# ZYL names these objectives Objective1 and Objective2, and the constraints External1 to
# External5. By hand:  echo "70 90 1500 4" > in.txt && examples/external/disc-brake.sh in.txt out.txt
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 INPUT OUTPUT" >&2
    exit 2
fi
LC_ALL=C awk '
NR == 1 && NF >= 4 {
    ri = $1; ro = $2; F = $3; s = $4
    area = ro * ro - ri * ri
    cube = ro * ro * ro - ri * ri * ri
    printf "%.17g %.17g %.17g %.17g %.17g %.17g %.17g\n",
        4.9e-5 * area * (s - 1), 9.82e6 * area / (F * s * cube),
        20 - (ro - ri), 2.5 * (s + 1) - 30, F / (3.14 * area) - 0.4,
        2.22e-3 * F * cube / (area * area) - 1, 900 - 2.66e-2 * F * s * cube / area
    found = 1
    exit
}
END {
    if (!found) {
        print "disc-brake.sh: the input file does not hold ri, ro, F and s" > "/dev/stderr"
        exit 1
    }
}
' "$1" >"$2"
