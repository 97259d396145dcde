#!/usr/bin/env python3
"""Demes models resolved by quenlith-cli against the format's reference parser, run live.

Every valid test case and example must resolve to the same model (numbers compared as
doubles with a relative tolerance, "Infinity" for infinite times); every invalid case must be
refused by both, quenlith-cli with exit status 2 and a message naming a field. Then each valid
case damaged twice (a seeded choice of a line deleted or a value changed) must be accepted
by both, with the same model, or refused by both (DEMES_DAMAGE_ROUNDS and DEMES_DAMAGE_SEED
change how many and which).

  check_demes_reference.py QUENLITH_CLI DATA_DIR            the check
  check_demes_reference.py --write DATA_DIR                 store the reference's resolved
                                                            models in DATA_DIR/reference-resolved
"""
import json
import math
import os
import pathlib
import random
import subprocess
import sys
import tempfile

SKIP = 77  # ctest's SKIP_RETURN_CODE for this test
# The format requires a constant size in an epoch that starts at infinity; the reference
# parser only checks that its two sizes are equal, so it accepts "exponential" there.
KNOWN_STRICTER = "must be constant in an epoch that starts at infinity"


def load_reference(data):
    sys.path.insert(0, str(data / "reference_implementation"))
    try:
        from ruamel.yaml import YAML  # noqa: F401
        import demes_parser  # noqa: F401
    except ImportError as e:
        print(f"SKIPPED: the reference parser needs a Python module that is missing: {e}")
        sys.exit(SKIP)
    from ruamel.yaml import YAML
    import demes_parser

    def resolve(path):
        with open(path, encoding="utf-8") as f:
            graph = demes_parser.parse(YAML(typ="safe").load(f))
        return graph.as_json_dict()

    return resolve


def valid_files(data):
    files = sorted((data / "test-cases" / "valid").glob("*.yaml"))
    files += sorted((data / "examples").glob("**/*.yaml"))
    return files


def invalid_files(data):
    return sorted((data / "test-cases" / "invalid").glob("*.yaml"))


def same(a, b, where=""):
    """Empty when a and b are the same model; otherwise where they differ."""
    if isinstance(a, bool) or isinstance(b, bool):
        return "" if a is b else f"{where}: {a!r} != {b!r}"
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        if math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-300):
            return ""
        return f"{where}: {a!r} != {b!r}"
    if isinstance(a, dict) and isinstance(b, dict):
        if list(a.keys()) != list(b.keys()):
            return f"{where}: keys {list(a.keys())} != {list(b.keys())}"
        for k in a:
            d = same(a[k], b[k], f"{where}.{k}")
            if d:
                return d
        return ""
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return f"{where}: {len(a)} items != {len(b)}"
        for i, (x, y) in enumerate(zip(a, b)):
            d = same(x, y, f"{where}[{i}]")
            if d:
                return d
        return ""
    return "" if a == b else f"{where}: {a!r} != {b!r}"


def write(data):
    resolve = load_reference(data)
    out = data / "reference-resolved"
    for path in valid_files(data):
        target = out / path.relative_to(data).with_suffix(".json")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(json.dumps(resolve(path), indent=2) + "\n", encoding="utf-8")
    print(f"wrote {len(valid_files(data))} resolved models into {out}")


def check(cli, data):
    resolve = load_reference(data)
    failures = []
    valid = invalid = 0
    for path in valid_files(data):
        ours = subprocess.run([cli, "--demes", str(path), "--resolve"], capture_output=True,
                              text=True)
        if ours.returncode != 0:
            failures.append(f"{path}: refused: {ours.stderr.strip()}")
            continue
        diff = same(json.loads(ours.stdout), resolve(path))
        if diff:
            failures.append(f"{path}: differs from the reference at {diff}")
            continue
        valid += 1
    for path in invalid_files(data):
        try:
            resolve(path)
            failures.append(f"{path}: the reference accepts it")
            continue
        except Exception:
            pass
        ours = subprocess.run([cli, "--demes", str(path), "--resolve"], capture_output=True,
                              text=True)
        message = ours.stderr.strip()
        if ours.returncode != 2 or ours.stdout or not message.startswith("error: --demes: "):
            failures.append(f"{path}: status {ours.returncode}, message {message!r}")
            continue
        invalid += 1
    damaged = agreed = accepted = 0
    rounds = int(os.environ.get("DEMES_DAMAGE_ROUNDS", "2"))
    rng = random.Random(int(os.environ.get("DEMES_DAMAGE_SEED", "22")))
    replacements = ["0", "-1", "1e300", ".inf", "x", "[]", "{}", "null", "'5'", "0.5", "A", "1"]
    with tempfile.TemporaryDirectory() as tmp:
        for path in sorted((data / "test-cases" / "valid").glob("*.yaml")):
            lines = path.read_text(encoding="utf-8").splitlines()
            for _ in range(rounds):
                copy = list(lines)
                i = rng.randrange(len(copy))
                if rng.random() < 0.5 or ":" not in copy[i]:
                    del copy[i]
                else:
                    key = copy[i].rsplit(":", 1)[0]
                    copy[i] = key + ": " + rng.choice(replacements)
                target = pathlib.Path(tmp) / "damaged.yaml"
                target.write_text("\n".join(copy) + "\n", encoding="utf-8")
                try:
                    theirs = resolve(target)
                except Exception:
                    theirs = None
                ours = subprocess.run([cli, "--demes", str(target), "--resolve"],
                                      capture_output=True, text=True)
                damaged += 1
                where = f"{path} damaged at line {i + 1} ({copy[i] if i < len(copy) else ''})"
                if theirs is None:
                    if ours.returncode != 2:
                        failures.append(f"{where}: accepted, the reference refuses it")
                        continue
                elif ours.returncode != 0 and KNOWN_STRICTER in ours.stderr:
                    pass  # the format requires it; its reference parser does not check it
                elif ours.returncode != 0:
                    failures.append(f"{where}: refused ({ours.stderr.strip()}), the reference "
                                    "accepts it")
                    continue
                else:
                    diff = same(json.loads(ours.stdout), json.loads(json.dumps(theirs)))
                    if diff:
                        failures.append(f"{where}: differs from the reference at {diff}")
                        continue
                    accepted += 1
                agreed += 1
    for line in failures:
        print(line)
    print(f"valid models resolved as the reference does: {valid} of {len(valid_files(data))}")
    print(f"invalid models refused: {invalid} of {len(invalid_files(data))}")
    print(f"damaged models on which quenlith-cli and the reference agree: {agreed} of {damaged}"
          f" ({accepted} accepted by both)")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--write":
        write(pathlib.Path(sys.argv[2]))
        sys.exit(0)
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(1)
    sys.exit(check(sys.argv[1], pathlib.Path(sys.argv[2])))
