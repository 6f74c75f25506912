#!/bin/sh
# The external program of examples/cantilever/task.txt: a steel cantilever of rectangular
# section, b mm wide and h mm high, 2 m long, carrying 10 kN at its free end.
#
#   mass          7850 kg/m^3 * b * h * 2 m                            (the objective, kg)
#   stress        6 P L / (b h^2) at the support, at most 160 MPa      (written as stress/160 - 1)
#   deflection    4 P L^3 / (E b h^3) at the tip, at most L/200 = 10 mm (deflection/10 - 1)
#
# ZYL writes the design into the file named by the first argument, one name=value line per
# variable (input_by_name=1), and reads the mass and the two constraint values from the
# second; THE EXTERNAL PROGRAM in zyl-script(5) is the whole contract. Every run appends its
# design to a log, so that the runs a task costs can be counted: the file named by
# CANTILEVER_CALLS, else calls.log in ZYL's folder (in a work folder: the evaluation's).
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 INPUT OUTPUT" >&2
    exit 2
fi
# One line in one write: programs running side by side append to the same log.
line=$(tr '\n' ' ' <"$1")
printf '%s\n' "$line" >>"${CANTILEVER_CALLS:-calls.log}"
# LC_ALL=C: numbers with a decimal point whatever the user's locale.
LC_ALL=C awk -F= '
$1 == "b" { b = $2; have++ }
$1 == "h" { h = $2; have++ }
END {
    if (have != 2 || b <= 0 || h <= 0) {
        print "beam.sh: the input needs b and h above 0" > "/dev/stderr"
        exit 1
    }
    P = 10000; L = 2000; E = 210000            # N, mm, N/mm^2
    mass = 7850e-9 * b * h * L                 # kg
    stress = 6 * P * L / (b * h * h)           # N/mm^2 = MPa
    deflection = 4 * P * L ^ 3 / (E * b * h ^ 3)
    printf "%.17g %.17g %.17g\n", mass, stress / 160 - 1, deflection / 10 - 1
}
' "$1" >"$2"
