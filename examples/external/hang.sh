#!/bin/sh
# A broken external objective that never ends, for testing how ZYL copes: it writes a valid
# value first, then waits for ever in a child process, as a script calling a stuck tool would.
# Run it with external_timeout set, or stop the run: ZYL kills its whole process group.
echo 1 >"$2"
while :; do
    sleep 60
done
