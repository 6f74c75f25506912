#!/bin/sh
# One evaluation of a ZYL job array, written by ZYL: task N runs individual N in its folder.
# Arguments: work root, generation, timeout in seconds (0: none), program, input, output.
cd "$1/gen$2-ind$SLURM_ARRAY_TASK_ID" || exit 111
limit=$3
shift 3
if [ "$limit" != 0 ]; then
    timeout --kill-after=1 "$limit" "$@"
else
    "$@"
fi
status=$?
echo "$status" > zyl-exit-status
exit "$status"
