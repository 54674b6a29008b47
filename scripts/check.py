"""The work of scripts/check, which sets the stage and runs this:
check.py ROOT CHECK_TREE TARGET SYSTEM_INCLUDES [FILE...]
(SYSTEM_INCLUDES: the cross toolchain's header folders, joined by ":")

Reads the compile database of CHECK_TREE, keeps our own sources (GoogleTest's
are not), writes a database for clang++ and clang-tidy under CHECK_TREE/clang,
then compiles each source and header with clang++ and runs clang-tidy on each
source (our headers come in through .clang-tidy's header filter), one run
per core. Prints each diagnostic once; non-zero when there is any.

A run that passed is remembered under CHECK_TREE/passed, keyed by the tool's
version, its arguments, the .clang-tidy files and the contents of every file
the source includes; the same run again is skipped. Failures always rerun.
"""

import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ROOT, TREE, TARGET, INCLUDES = sys.argv[1:5]
ROOT = os.path.realpath(ROOT)
NAMED = sys.argv[5:]
DATABASE = os.path.join(TREE, "clang")
PASSED = os.path.join(TREE, "passed")

# The cross toolchain's libstdc++ and MinGW headers, none of the host's.
FRONT = ["clang++", "--target=" + TARGET, "-nostdinc++", "-nostdlibinc"]
for folder in INCLUDES.split(":"):
    FRONT += ["-isystem", folder]
WARNINGS = ["-Wall", "-Wextra", "-Werror"]
# The compiler's own warnings come from the clang++ pass; every finding fails.
TIDY = ["clang-tidy", "-p", DATABASE, "--quiet", "--warnings-as-errors=*",
        "--checks=-clang-diagnostic-*"]


def ours(path):
    return path.startswith(ROOT + os.sep) and not path.startswith(
        os.path.join(ROOT, "build") + os.sep)


def flags_of(entry):
    """The build's flags for one source, without compiler, input or output."""
    flags, words = [], iter(shlex.split(entry["command"])[1:])
    for word in words:
        if word == "-o":
            next(words)
        elif word == "-c" or word == entry["file"]:
            pass
        elif word.startswith("@"):  # the include folders, in a response file
            with open(os.path.join(entry["directory"], word[1:])) as f:
                flags += shlex.split(f.read())
        else:
            flags.append(word)
    return flags


def databases():
    """Our sources and our headers, each a path -> compile command entry.
    A header is compiled alone with the flags of a source of its folder."""
    sources, folders = {}, {}
    with open(os.path.join(TREE, "compile_commands.json")) as f:
        entries = json.load(f)
    for entry in entries:
        path = os.path.realpath(entry["file"])
        if not ours(path) or path in sources:
            continue
        flags = flags_of(entry)
        sources[path] = {"directory": entry["directory"], "file": path,
                         "arguments": FRONT + flags + ["-c", path]}
        folders.setdefault(os.path.dirname(path), (entry["directory"], flags))
    headers = {}
    for folder, (directory, flags) in folders.items():
        for name in sorted(os.listdir(folder)):
            if name.endswith(".hpp"):
                path = os.path.join(folder, name)
                headers[path] = {"directory": directory, "file": path,
                                 "arguments": FRONT + flags + ["-x", "c++-header", "-c", path]}
    os.makedirs(DATABASE, exist_ok=True)
    with open(os.path.join(DATABASE, "compile_commands.json"), "w") as f:
        json.dump(list(sources.values()), f, indent=1)
    return sources, headers


def run(command, directory):
    done = subprocess.run(command, cwd=directory, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    lines = [line for line in done.stdout.splitlines()
             if not re.fullmatch(r"\d+ (warning|error)s? generated\.", line)]
    return done.returncode, lines


def file_digest(path, memo={}):
    if path not in memo:
        with open(path, "rb") as f:
            memo[path] = hashlib.sha256(f.read()).hexdigest()
    return memo[path]


def tool_version(tool, memo={}):
    if tool not in memo:
        memo[tool] = subprocess.run([tool, "--version"], stdout=subprocess.PIPE,
                                    text=True).stdout
    return memo[tool]


def included(entry, memo={}):
    """The files a source reads (with itself); None when they cannot be listed."""
    if entry["file"] not in memo:
        listed = subprocess.run(entry["arguments"] + ["-M", "-MF", "-"], cwd=entry["directory"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        memo[entry["file"]] = (listed.stdout.replace("\\\n", " ").split()[1:]
                               if listed.returncode == 0 else None)
    return memo[entry["file"]]


def pass_key(command, entry):
    """None when the files the source includes cannot be listed."""
    files = included(entry)
    if files is None:
        return None
    key = hashlib.sha256()
    key.update(tool_version(command[0]).encode())
    key.update(json.dumps([command, entry["arguments"]]).encode())
    files = list(files)
    folder = os.path.dirname(entry["file"])
    while ours(os.path.join(folder, "x")):  # the .clang-tidy files that apply
        files.append(os.path.join(folder, ".clang-tidy"))
        folder = os.path.dirname(folder)
    for path in files:
        path = os.path.normpath(os.path.join(entry["directory"], path))
        key.update((path + "=" + (file_digest(path) if os.path.exists(path) else "")).encode())
    return key.hexdigest()


def remembered(command, entry, directory):
    """Runs command unless it passed before on the same files; (status, lines, skipped)."""
    key = pass_key(command, entry)
    mark = key and os.path.join(PASSED, key)
    if mark and os.path.exists(mark):
        return 0, [], True
    status, lines = run(command, directory)
    if mark and status == 0 and not lines:
        os.makedirs(PASSED, exist_ok=True)
        open(mark, "w").close()
    return status, lines, False


def compile_job(entry):
    command = entry["arguments"] + ["-fsyntax-only"] + WARNINGS
    return remembered(command, entry, entry["directory"])


def tidy_job(entry):
    return remembered(TIDY + [entry["file"]], entry, ROOT)


def blocks(lines):
    """(first diagnostic line, its lines with include context and notes)."""
    key, block = None, []
    for line in lines:
        include = line.startswith(("In file included from", " " * 17 + "from "))
        diagnostic = re.search(r": (warning|error): ", line) is not None
        if (include or diagnostic) and key is not None:
            yield key, block
            key, block = None, []
        block.append(line)
        if diagnostic:
            key = line
    if block:
        yield key or block[0], block


def main():
    sources, headers = databases()
    if not sources:
        print("No sources of ours in the compile database", file=sys.stderr)
        return 1
    if NAMED:
        compiles, tidies = [], []
        for name in NAMED:
            path = os.path.realpath(name if os.path.exists(name) else os.path.join(ROOT, name))
            entry = sources.get(path) or headers.get(path)
            if entry is None:
                print(f"{name}: not a source or header the build knows", file=sys.stderr)
                return 1
            compiles.append(entry)
            tidies.append(entry)
    else:
        compiles = list(sources.values()) + list(headers.values())
        tidies = list(sources.values())

    jobs = [(tidy_job, e) for e in tidies] + [(compile_job, e) for e in compiles]
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
        results = list(pool.map(lambda job: job[0](job[1]), jobs))

    # A header's finding is reported by every source that includes it: once.
    seen, failed = set(), 0
    skipped = sum(result[2] for result in results)
    for (job, entry), (status, lines, _) in zip(jobs, results):
        if status == 0 and not lines:
            continue
        failed += 1
        for key, block in blocks(lines):
            if key not in seen:
                seen.add(key)
                print("\n".join(block))
        if status != 0 and not lines:
            print(f"{job.__name__} failed on {entry['file']}")
    compiled = sum(job is compile_job for job, _ in jobs)
    print(f"clang++ on {compiled} files, clang-tidy on {len(jobs) - compiled}: "
          f"{len(seen)} diagnostics" +
          (f"; {skipped} runs had passed before on the same files" if skipped else ""))
    print(f"check: {len(jobs) - failed} passed, {failed} failed")
    return 1 if failed else 0


sys.exit(main())
