#!/usr/bin/env python3
"""Which mutants of a mutation run stand on lines that this platform does not compile.

A mutant in a Windows-only branch, or in the fallback for a missing POSIX constant, builds and
survives without telling anything about the tests. Each source of the run is preprocessed with its
own compile command from the run's build folder; the lines that come out are the compiled ones.

    tools/mutants-inactive.py SOURCE_ROOT BUILD_FOLDER BUILD_FOLDER/mutants.tsv

Prints each mutant on a line that is not compiled, then counts by folder, compiled or not, result.
"""
import subprocess, sys, re, os, shlex, collections
root, build, tsv = sys.argv[1], sys.argv[2], sys.argv[3]
cmds = subprocess.run(['ninja', '-C', build, '-t', 'commands'], capture_output=True, text=True).stdout.splitlines()
rows = [l.rstrip('\n').split('\t') for l in open(tsv) if l.strip()]
active = {}
for path in sorted(set(r[0] for r in rows)):
    full = os.path.join(root, path)
    cmd = next((c for c in cmds if (' -c ' + full) in c and ' -o ' in c and 'mocs_compilation' not in c), None)
    if cmd is None:
        print('no command for', path, file=sys.stderr); continue
    args = shlex.split(cmd)
    out = []
    skip = False
    for a in args:
        if skip: skip = False; continue
        if a in ('-o', '-MF', '-MT'): skip = True; continue
        if a in ('-MD', '-c'): continue
        out.append(a)
    pp = subprocess.run(out + ['-E'], capture_output=True, text=True, cwd=build).stdout
    lines = set(); cur = None; n = 0
    for l in pp.splitlines():
        m = re.match(r'# (\d+) "([^"]*)"', l)
        if m:
            n = int(m.group(1)); cur = m.group(2); continue
        if cur and os.path.realpath(cur) == os.path.realpath(full) and l.strip():
            lines.add(n)
        n += 1
    active[path] = lines
c = collections.Counter()
for r in rows:
    on = int(r[1]) in active.get(r[0], set())
    c[(r[0].split('/')[0], on, r[3])] += 1
    if not on: print('inactive:', '\t'.join(r))
for k in sorted(c): print(k, c[k])
