#!/usr/bin/env python3
"""Feeds zyl-console lines meant to break it and checks that every line gets exactly one
answer and the program ends normally."""
import subprocess
import sys

program = sys.argv[1]
lines = [
    bytes(range(1, 256)).replace(b"\n", b"").replace(b"\r", b""),
    b"x" * (1 << 20),
    b"(" * 100000 + b"1" + b")" * 100000,
    b"(" * 100000 + b"1+" + b")" * 100000,
    b"(x+" * 100000 + b"1" + b")" * 100000,
    b"1e999999",
    b"1" + b"+1" * 20000,
    b"-" * 500000 + b"x",
    b"{" * 50000 + b"1" + b"}" * 50000,
    b"sin(" * 50000 + b"1" + b")" * 50000,
    b"nan+inf*info",
    b"0^0",
]
# Trees that would take gigabytes: definitions that double, broadcasts, endless sums.
lines += [b"s1=x+y"] + [b"s%d=s%d+s%d" % (k, k - 1, k - 1) for k in range(2, 17)]
lines += [b"+".join([b"s16"] * 100), b"D(x" + b"/x" * 1600 + b",x)",
          b"v={1,1,1,1,1,1,1,1,1,1}", b"w={v,v,v,v,v,v,v,v,v,v}", b"u={w,w,w,w,w,w,w,w,w,w}",
          b"t={u,u,u,u,u,u,u,u,u,u}", b"t*sum(x,{i,1,20000})"]
# A definition chain a hundred thousand symbols long, then its use.
chain = [b"a%d=a%d" % (i, i + 1) for i in range(100000)]
lines += chain + [b"a100000=5", b"a0", b"a0+1", b"a100000=a0"]
data = b"\n".join(lines) + b"\n"
result = subprocess.run([program], input=data, stdout=subprocess.PIPE, timeout=600)
out = result.stdout.split(b"\n")
if out and out[-1] == b"":
    out.pop()
if result.returncode != 0:
    sys.exit("exit status %d" % result.returncode)
if len(out) != len(lines):
    sys.exit("expected %d answers, got %d" % (len(lines), len(out)))
bad = [o for o in out if not o.startswith(b">> ")]
if bad:
    sys.exit("answer without prompt: %r" % bad[0][:80])
too_large = [i for i, line in enumerate(lines)
             if line.startswith(b"s16+") or line.startswith(b"t*") or line.startswith(b"D(x/x")]
if [out[i] for i in too_large] != [b">> Expression too large"] * 3:
    sys.exit("exploding lines answered %r" % [out[i][:80] for i in too_large])
expect_tail = [b">> 5", b">> 5", b">> 6", b">> Recursion error !"]
if out[-4:] != expect_tail:
    sys.exit("chain answers were %r" % out[-4:])
print("1 passed, 0 failed")
