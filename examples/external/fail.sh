#!/bin/sh
# A broken external objective that writes a valid value and then exits with status 1, for
# testing: ZYL still reads the value, reports "A problem with external program." and stops.
echo 2.5 >"$2"
exit 1
