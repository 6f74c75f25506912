#!/bin/sh
# An external objective program for ZYL: the Rosenbrock function of all the variables,
#   f(x) = sum over i < n of 100 * (x[i+1] - x[i]^2)^2 + (1 - x[i])^2,
# whose minimum is 0 at (1, 1, ..., 1); with a single variable it is (1 - x)^2.
#
# ZYL writes the variables into the file named by the first argument, as one line of numbers
# each followed by a space, starts this program as  objective.sh INPUT OUTPUT  and reads the
# number it leaves in OUTPUT; exit status 0 means success. The whole contract (the input by
# name, constraint values, exit statuses, failures, folders) is THE EXTERNAL PROGRAM in
# zyl-script(5). In a project script:
#
#   [FUNCTION]
#   external=1
#   external_name=examples/external/objective.sh
#   input_name=zyl-input.txt
#   output_name=zyl-output.txt
#   external_timeout=10
#
# The names are taken relative to the directory ZYL runs in, and the program is not looked up
# in PATH. By hand:  echo "1.5 2" > in.txt && examples/external/objective.sh in.txt out.txt
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 INPUT OUTPUT" >&2
    exit 2
fi
# LC_ALL=C: the value must be written with a decimal point whatever the user's locale.
LC_ALL=C awk '
NR == 1 && NF > 0 {
    f = 0
    if (NF == 1)
        f = (1 - $1) ^ 2
    for (i = 1; i < NF; i++)
        f += 100 * ($(i + 1) - $i ^ 2) ^ 2 + (1 - $i) ^ 2
    printf "%.17g\n", f
    found = 1
    exit
}
END {
    if (!found) {
        print "objective.sh: no variables in the input file" > "/dev/stderr"
        exit 1
    }
}
' "$1" >"$2"
