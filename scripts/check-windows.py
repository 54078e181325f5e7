#!/usr/bin/env python3
"""Compiles the Windows side of Busvista with the MinGW-w64 cross compiler.

Every Windows-only source (*_win.cpp) and every source or header with a
Windows branch (Q_OS_WIN, _WIN32) is compiled for x86_64 Windows with
-fsyntax-only against the Qt headers of the build machine: Debian has no Qt
libraries for Windows, but its headers serve for types and syntax. Include
paths and definitions come from the configured build's compile_commands.json
(the generated ui_*.h and *.moc files must exist, so run after a build).
Any compile error fails: exit 1 with the compiler's messages.

    python3 scripts/check-windows.py [BUILD_DIR]
"""
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys

COMPILER = "x86_64-w64-mingw32-g++-posix"
# Linux-only parts of the build that a Windows build never defines.
LINUX_ONLY_DEFINES = {"-DBUSVISTA_SOCKETCAN", "-DBUSVISTA_LIBSOCKETCAN"}


def posix_only(directory):
    """True for a folder whose CMakeLists.txt returns at once on Windows."""
    cmake = os.path.join(directory, "CMakeLists.txt")
    if not os.path.exists(cmake):
        return False
    with open(cmake, encoding="utf-8", errors="replace") as file:
        return re.search(r"^if\s*\(\s*WIN32\s*\)\s*\n\s*return\s*\(\s*\)", file.read(), re.M) is not None


def sources(root):
    """Windows-only files and files with a Windows branch, below the source tree."""
    pattern = re.compile(r"\b(Q_OS_WIN|_WIN32)\b")
    found = []
    for directory, folders, files in os.walk(root):
        # Build trees and hidden folders (.git, .ci) hold no sources of ours,
        # and a folder whose CMakeLists.txt leaves Windows out is never
        # compiled there (the POSIX stand-in drivers and their tests).
        if posix_only(directory):
            folders[:] = []
            continue
        folders[:] = sorted(f for f in folders if not f.startswith((".", "build")))
        for name in sorted(files):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(directory, name)
            with open(path, encoding="utf-8", errors="replace") as file:
                windows = name.endswith(("_win.cpp", "_win.h")) or pattern.search(file.read())
            if windows:
                found.append(os.path.relpath(path, root))
    return found


def flags_of(entry):
    words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    # Skip a compiler launcher and the compiler itself.
    start = next(i for i, word in enumerate(words) if word.startswith("-"))
    kept = []
    skip = False
    for word in words[start:]:
        if skip:
            skip = False
            continue
        if word in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if word in ("-c", "-MD", "-MMD", "-fPIC", "-fPIE") or word.startswith("-fsanitize") \
                or word in LINUX_ONLY_DEFINES or word == entry["file"] or word.endswith(entry["file"]):
            continue
        kept.append(word)
    return kept


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
    database = os.path.join(build, "compile_commands.json")
    if not os.path.exists(database):
        print(f"{database} fehlt: erst konfigurieren und bauen.", file=sys.stderr)
        return 1
    with open(database) as file:
        entries = json.load(file)
    by_file = {os.path.realpath(entry["file"]): entry for entry in entries}
    by_dir = {}
    for entry in entries:
        by_dir.setdefault(os.path.dirname(os.path.realpath(entry["file"])), entry)

    jobs = []
    for relative in sources(root):
        path = os.path.realpath(os.path.join(root, relative))
        entry = by_file.get(path)
        directory = os.path.dirname(path)
        # Not built on Linux (a *_win.cpp, a header): the flags of a neighbour,
        # else of the nearest folder above that has one.
        while entry is None and directory.startswith(root):
            entry = by_dir.get(directory)
            directory = os.path.dirname(directory)
        if entry is None:
            print(f"{relative}: keine Compiler-Einstellungen gefunden", file=sys.stderr)
            return 1
        language = ["-x", "c++-header"] if relative.endswith(".h") else []
        command = [COMPILER, "-fsyntax-only", "-Wno-attributes", *flags_of(entry), *language, path]
        jobs.append((relative, command, entry.get("directory", build)))

    def run(job):
        relative, command, directory = job
        result = subprocess.run(command, cwd=directory, capture_output=True, text=True)
        return relative, result.returncode, result.stderr

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for relative, code, messages in pool.map(run, jobs):
            print(f"{'ok    ' if code == 0 else 'FEHLER'} {relative}")
            if code != 0:
                failed += 1
                print(messages, file=sys.stderr)
    print(f"Windows (MinGW-w64, -fsyntax-only): {len(jobs) - failed} von {len(jobs)} Dateien ohne Fehler")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
