#!/bin/sh
# A stand-in for an expensive simulation, for ZYL's cluster examples: it fits a damped spring,
# x'' = -(k x + c x') / m, to a measured response. ZYL starts it in an evaluation's own work
# folder, which holds a copy of examples/cluster/deck:
#   model.txt     the model's constants, and how many seconds a run pretends to take;
#   measured.txt  the measured response, one "time displacement" pair a line.
# It reads the stiffness k and the damping c from its input file, integrates the model and
# writes the mean squared distance from the measured response (0 at k = 4, c = 0.5).
#   usage: simulate.sh INPUT OUTPUT
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 INPUT OUTPUT" >&2
    exit 2
fi
read -r k c _ <"$1"
# LC_ALL=C: the value must be written with a decimal point whatever the user's locale.
LC_ALL=C awk -v k="$k" -v c="$c" '
FNR == NR { p[$1] = $2; next }
{ t[n + 0] = $1; y[n + 0] = $2; n++ }
END {
    x = p["x0"]; v = 0; dt = p["dt"]; m = p["mass"]; now = 0; i = 0; err = 0
    while (i < n) {
        while (i < n && t[i] <= now + dt / 2) { err += (x - y[i]) ^ 2; i++ }
        a = -(k * x + c * v) / m; v += a * dt; x += v * dt; now += dt
    }
    printf "%.12g\n", err / n
}' model.txt measured.txt >"$2.partial"
# The real thing would take minutes; the stand-in waits as long as model.txt says.
sleep "$(awk '$1 == "seconds" { print $2 }' model.txt)"
mv "$2.partial" "$2"
