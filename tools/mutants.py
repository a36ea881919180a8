#!/usr/bin/env python3
"""Mutation testing: how many small faults planted in the program does the test suite catch?

Applies one small mutation at a time to the sources of engine/, platform/ and app/ (by default),
rebuilds incrementally in a build folder of its own, runs ctest with a timeout, and reports
each mutant as killed (a test failed or timed out), survived (every test passed) or not built
(the mutation did not compile; left out of the rate). The source file is restored after each
mutant, also when the run is interrupted.

    tools/mutants.py [--count 200] [--seed 1] [--build build-mutants] [--jobs 2] [--list]

The same seed on the same sources picks the same mutants, so two versions of the test suite
can be compared on one sample. Results go to standard output and, as one line per mutant, to
<build>/mutants.tsv.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

COMPARISONS = {" == ": [" != "], " != ": [" == "], " < ": [" >= ", " <= "], " <= ": [" > ", " < "],
               " > ": [" <= ", " >= "], " >= ": [" < ", " > "]}
STATEMENT = re.compile(r"^\s*(m_\w+|\w+(\.|->|::)\w+|\+\+|--|emit\b|\w+\s*\(|\w+(\[[^\]]*\])?\s*[-+*/|&]?=[^=])")
NOT_A_STATEMENT = re.compile(r"^\s*(return|break|continue|case|default|using|namespace|typedef|template|"
                             r"public|private|protected|class|struct|enum|static_assert|Q_OBJECT)\b")
VOID_DEFINITION = re.compile(r"^(?:[\w:<>]+\s+)*void\s+[\w:~]+\(.*\)\s*(const)?\s*$")
BOOL_DEFINITION = re.compile(r"^(?:[\w:<>]+\s+)*bool\s+[\w:~]+\(.*\)\s*(const)?\s*$")
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")


def code_part(line):
    """The line with string and character literals blanked and any // comment cut off."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def mutants_of(path, lines):
    """Every mutant of one file: (path, line number, description, new line or inserted text)."""
    found = []
    in_block_comment = False
    for n, raw in enumerate(lines):
        stripped = raw.strip()
        if in_block_comment:
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("#", "//")):
            continue
        code = code_part(raw)
        for op, replacements in COMPARISONS.items():
            start = 0
            while (i := code.find(op, start)) >= 0:
                for r in replacements:
                    found.append((path, n, f"'{op.strip()}' -> '{r.strip()}'", raw[:i] + r + raw[i + len(op):]))
                start = i + len(op)
        for word, other in (("true", "false"), ("false", "true")):
            for m in re.finditer(rf"\b{word}\b", code):
                found.append((path, n, f"{word} -> {other}", raw[:m.start()] + other + raw[m.end():]))
        if re.search(r"\b(if|while|for|return|==|!=|<|>)\b|[<>]", code):
            for m in INTEGER.finditer(code):
                value = int(m.group(1))
                if value > 100000:
                    continue
                for delta in (1, -1):
                    if value + delta >= 0:
                        found.append((path, n, f"{value} -> {value + delta}",
                                      raw[:m.start()] + str(value + delta) + raw[m.end():]))
        previous = code_part(lines[n - 1]).strip() if n > 0 else ""
        if (code.rstrip().endswith(";") and STATEMENT.match(code) and not NOT_A_STATEMENT.match(code)
                and code.count("(") == code.count(")") and (previous == "" or previous.endswith((";", "{", "}", ")")))
                and not re.match(r"^\s*[\w:<>,\s*&]+\s+[*&]?\w+\s*[({=;]", code.replace("::", "__"))):
            indent = raw[:len(raw) - len(raw.lstrip())]
            found.append((path, n, "statement dropped", indent + ";\n"))
        if stripped == "{" and n > 0:
            signature = code_part(lines[n - 1]).rstrip()
            if VOID_DEFINITION.match(signature):
                found.append((path, n, "returns at once", raw.rstrip("\n") + " return;\n"))
            elif BOOL_DEFINITION.match(signature):
                for value in ("true", "false"):
                    found.append((path, n, f"returns {value} at once", raw.rstrip("\n") + f" return {value};\n"))
    return found


def all_mutants(folders):
    found = []
    for folder in folders:
        for directory, _, names in sorted(os.walk(os.path.join(ROOT, folder))):
            for name in sorted(names):
                if name.endswith(".cpp"):
                    path = os.path.join(directory, name)
                    with open(path, encoding="utf-8") as f:
                        found += mutants_of(os.path.relpath(path, ROOT), f.readlines())
    return found


def run(command, cwd, timeout):
    # Floods of a few MiB find what floods of 64 MiB find, in a fraction of the time.
    os.environ.setdefault("GPSA_FLOOD_MIB", "8")
    try:
        process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return None, ""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=200, help="mutants in the sample (default 200)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutants"), help="build folder")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--timeout", type=int, default=45, help="seconds allowed to one test (default 45)")
    parser.add_argument("--resume", action="store_true", help="keep the results of an earlier run of this sample")
    parser.add_argument("--folders", nargs="+", default=["engine", "platform", "app"])
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    args = parser.parse_args()

    candidates = all_mutants(args.folders)
    sample = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
    sample.sort(key=lambda m: (m[0], m[1]))
    print(f"{len(candidates)} possible mutants in {', '.join(args.folders)}; sample of {len(sample)}, seed {args.seed}")
    if args.list:
        for path, n, what, _ in sample:
            print(f"{path}:{n + 1}: {what}")
        return 0

    # Optimised but without debug information: the build of each mutant is most of its cost.
    configure = ["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1",
                 "-DGPSA_WERROR=OFF", f"-DGPSA_TEST_TIMEOUT={args.timeout}"]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    if shutil.which("ld.lld"):
        configure += ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"]
    test = ["ctest", "--test-dir", args.build, "-j", str(args.jobs), "--timeout", str(args.timeout),
            "--stop-on-failure", "--label-exclude", "bench|install"]
    env_ok = run(configure, ROOT, 600)[0] == 0
    # Only what the tests run is rebuilt for each mutant: a test is built by the target of its name.
    listing = run(test[:3] + ["-N", "--label-exclude", "bench|install"], ROOT, 600)[1]
    known = set(re.findall(r"^(?:\.\.\. )?([\w.-]+)(?::|$)", run(["cmake", "--build", args.build, "--target", "help"],
                                                                 ROOT, 600)[1], re.M))
    # A test of another name (a second run of a test program) needs no target of its own.
    targets = [t for t in re.findall(r"Test +#\d+: (\S+)", listing) if t in known]
    build = ["cmake", "--build", args.build, "-j", str(args.jobs), "--target"] + targets
    env_ok = env_ok and run(build, ROOT, 3600)[0] == 0
    code, output = run(test, ROOT, 3600)
    if not env_ok or code != 0:
        print("The unmutated program does not build or pass its tests; nothing to measure.\n" + output)
        return 1

    restore = {}

    def put_back(*_):
        for path, text in restore.items():
            with open(os.path.join(ROOT, path), "w", encoding="utf-8") as f:
                f.write(text)
        restore.clear()

    signal.signal(signal.SIGTERM, lambda *a: (put_back(), sys.exit(1)))
    counts = {"killed": 0, "survived": 0, "not built": 0}
    survivors = []
    started = time.time()
    table_path = os.path.join(args.build, "mutants.tsv")
    earlier = {}
    if args.resume and os.path.exists(table_path):
        with open(table_path, encoding="utf-8") as f:
            for row in f.read().splitlines():
                path, line, what, result = row.split("\t")
                earlier[(path, int(line) - 1, what)] = result
    with open(table_path, "w", encoding="utf-8") as table:
        try:
            for number, (path, n, what, new_line) in enumerate(sample, 1):
                if (path, n, what) in earlier:
                    result = earlier[(path, n, what)]
                    counts[result] += 1
                    if result == "survived":
                        survivors.append(f"{path}:{n + 1}: {what}")
                    table.write(f"{path}\t{n + 1}\t{what}\t{result}\n")
                    continue
                full = os.path.join(ROOT, path)
                with open(full, encoding="utf-8") as f:
                    original = f.read()
                restore[path] = original
                lines = original.splitlines(keepends=True)
                lines[n] = new_line
                with open(full, "w", encoding="utf-8") as f:
                    f.write("".join(lines))
                if run(build, ROOT, 1800)[0] != 0:
                    result = "not built"
                else:
                    code, output = run(test, ROOT, 3600)
                    # A failure is confirmed by a second run of the failed tests, so that a test
                    # that failed only because the machine was busy kills nothing; a test that
                    # hangs until its time is up has no need of a second run.
                    if code != 0 and "***Timeout" not in output:
                        code, _ = run(test[:3] + ["--rerun-failed", "--timeout", str(args.timeout)], ROOT, 3600)
                        if code == 0:
                            code, _ = run(test, ROOT, 3600)
                    result = "survived" if code == 0 else "killed"
                put_back()
                counts[result] += 1
                if result == "survived":
                    survivors.append(f"{path}:{n + 1}: {what}")
                table.write(f"{path}\t{n + 1}\t{what}\t{result}\n")
                table.flush()
                print(f"[{number}/{len(sample)}] {path}:{n + 1}: {what}: {result}", flush=True)
        finally:
            put_back()
            run(build, ROOT, 1800)

    viable = counts["killed"] + counts["survived"]
    rate = 100.0 * counts["killed"] / viable if viable else 0.0
    print(f"\nkilled {counts['killed']}, survived {counts['survived']}, not built {counts['not built']}: "
          f"kill rate {rate:.1f}% of {viable} mutants ({(time.time() - started) / 60:.0f} min)")
    if survivors:
        print("survivors:\n  " + "\n  ".join(survivors))
    return 0


if __name__ == "__main__":
    sys.exit(main())
